@echo off
rem Fennick WinPE build, step 1 of 3 (ja-JP): a fresh working folder from
rem the deployment kit's x86 media tree.
%DRIVE%
if exist C:\kozt_pe31 rd /s /q C:\kozt_pe31
call "%IPATH%\Tools\PETools\copype.cmd" x86 C:\kozt_pe31
