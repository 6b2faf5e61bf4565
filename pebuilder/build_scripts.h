// The WinPE build's steps that need no page: the three command scripts made
// from their templates, the removal of the working folder, the collection of
// the finished image into the program's "\Tools" folder and its volume label.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/core/cstring.h"
#include "platform/core/types.h"

inline constexpr const char16_t* kWorkFolder = u"C:\\kozt_pe31";
inline constexpr const char16_t* kBuiltImage = u"C:\\yarv.iso";
inline constexpr uint32_t kVolumeLabelOffset = 0x8028;
inline constexpr int kVolumeLabelBytes = 32;
inline constexpr int kMaxFolderNesting = 128;

// The three template paths for a WinPE language ("English" or "Japanese");
// false (and empty paths) for any other value.
bool BuildTemplates(const CString& language, CString templates[3]);

// Writes ProgramFolder + "\Resources\1.cmd" .. "3.cmd" from the templates.
// Earlier scripts are removed first, so a failed generation leaves none
// behind to run; false when a template cannot be read or a script written
// (the scripts written so far are removed again).
bool GenerateBuildScripts(const CString& t1, const CString& t2, const CString& t3);
// Copies one template line by line, "%IPATH%" replaced by BrowseResultFolder
// and "%DRIVE%" by its first two characters; false on a read or write error.
bool ExpandScriptTemplate(const CString& template_path, const CString& output_path);

// Deletes a folder and everything below it. A link (reparse point) inside the
// tree is removed itself and never followed; nesting deeper than 128 levels
// fails. `pump` runs once per folder. False when anything remains.
bool RemoveFolderTree(const CString& folder, const std::function<void()>& pump = {});

// Copies `image` into `tools` as "CD.iso", or "CD(n).iso" with the first n
// whose name is free, and checks the copy byte for byte. Only a verified copy
// deletes the source. Returns the collected path, empty when nothing was
// collected (the source then stays where it was).
CString CollectBuiltImage(const CString& image, const CString& tools);

// The 32-byte label field: the low byte of each character, space-padded,
// cut to 32 bytes, no terminator.
void MakeVolumeLabelField(const CString& label, uint8_t field[kVolumeLabelBytes]);
// Writes the field at byte 0x8028 of the image; false when it cannot.
bool WriteVolumeLabel(const CString& image, const CString& label);

// "HH:MM:SS" of a span in seconds (hours of the span's day part).
CString ElapsedText(int64_t seconds);
