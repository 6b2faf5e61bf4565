// The program-wide start-up values of the disk-cloning program: written once
// by the program shell during start-up, read by every later part (the disk
// tables read programFolder, languageName, messageCaption, winPEMode, the
// main dialog and the progress/timer values of the page that is open).
//
// One instance, `ShellState`; everything starts empty, false or zero.
#pragma once

#include "platform/core/cstring.h"
#include "platform/core/types.h"

class CProgressCtrl;

struct ShellStateRecord {
  // The command line after the program name; upper-cased in place when a
  // second instance is detected.
  CString commandLine;
  // The program file's folder, without a trailing backslash; program-relative
  // paths ("\Resources\...", "\Help\...", "\Tools\...") are appended to it.
  CString programFolder;
  // The user-interface language name ("English" or "Japanese") from field 4
  // of the settings record; selects the language file.
  CString languageName;
  // True when the program runs from a WinPE medium (programFolder starts
  // with an upper-case "X").
  bool winPEMode = false;
  // Fields 1 to 3 of the settings record (fields 1 and 2 with backslash + n
  // turned into a line feed).
  CString settingsText1;
  CString settingsText2;
  CString settingsText3;
  // Caption of every message box; empty until the main dialog sets it.
  CString messageCaption;
  // Font heights of the pages' body texts and titles.
  int32_t textFontHeight = 0;
  int32_t titleFontHeight = 0;
  // The main dialog's window; the message pump and the copy engines serve it.
  HWND MainDialogHandle = nullptr;
  // The copy was confirmed in the one-click countdown.
  bool oneClickAutoMode = false;
  // One-click copy is preparing or running the clone page.
  bool oneClickRunning = false;
  // Drive text of a partition whose boot store must be repointed.
  CString bootFixDrive;
  // The progress control of the page that currently shows progress (only
  // one such page is open at a time: they are all modal).
  CProgressCtrl* ProgressBar = nullptr;
  // The id SetTimer returned for the open page's one-shot or countdown timer.
  UINT_PTR OneShotTimerId = 0;
  // Tick counter of that timer.
  int32_t OneShotTickCount = 0;
};

extern ShellStateRecord ShellState;
