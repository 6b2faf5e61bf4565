@echo off
rem Fennick WinPE build, step 3 of 3 (ja-JP): the bootable ISO image.
if exist C:\yarv.iso del C:\yarv.iso
"%IPATH%\Tools\x86\oscdimg.exe" -n -bC:\kozt_pe31\etfsboot.com -lWINPE_JA C:\kozt_pe31\ISO C:\yarv.iso
