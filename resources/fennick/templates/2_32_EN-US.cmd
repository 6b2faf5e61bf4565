@echo off
rem Fennick WinPE build, step 2 of 3 (en-US): the boot image and the
rem language settings of the media.
set PE=C:\kozt_pe31
if not exist %PE%\ISO exit /b 1
copy /y %PE%\winpe.wim %PE%\ISO\sources\boot.wim
md %PE%\ISO\fennick
echo [WinPE]> %PE%\ISO\fennick\media.ini
echo Language=en-US>> %PE%\ISO\fennick\media.ini
