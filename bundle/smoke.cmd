@echo off
rem The smoke check of a kerno release on this machine (docs\windows-check.md).
rem Packs the example service with this bundle's kernopack.exe into a new
rem folder, installs, starts, queries, dumps, stops and removes it; then, when
rem msiexec is there and the prompt is elevated, installs, upgrades and
rem removes the example's Windows Installer packages. One PASS, FAIL or SKIP
rem line per step, a closing count, exit code 1 on any failure. Whatever
rem happens, nothing it installed is left installed.
rem
rem Plain cmd, kept to what Wine's cmd runs too: no && or ||, no wildcards
rem in for sets, no substrings, loops by goto, and %VAR% rather than !VAR!
rem where a path is a command, a redirection target or a for /f source.
setlocal EnableExtensions EnableDelayedExpansion

set "BUNDLE=%~dp0"
set "SERVICE=KernoDemo"
set "LOG=kerno-smoke.log"
set "ARCH=x64"
set "JH="
set /a passed=0, failed=0, skipped=0
set "WORK="
set "EXE="
set "SVC_TOUCHED="
set "MSI_TOUCHED="
set "STANDIN="
set "ELEVATED="

:args
if "%~1"=="" goto args_done
if "%~1"=="/?" goto usage
if /i "%~1"=="-h" goto usage
if /i "%~1"=="--help" goto usage
if /i "%~1"=="x64" (
  set "ARCH=x64"
  shift
  goto args
)
if /i "%~1"=="x86" (
  set "ARCH=x86"
  shift
  goto args
)
if defined JH (
  echo smoke.cmd: unexpected argument %1; smoke.cmd --help says what it takes 1>&2
  exit /b 2
)
set "JH=%~1"
shift
goto args

:usage
echo Usage: smoke.cmd [JAVA_HOME] [x64^|x86]
echo.
echo Checks this kerno release on this machine with the example service:
echo packs it with kernopack.exe, then /install, /start, its start line,
echo /status, /threaddump, /stop, its shutdown line and /uninstall; then,
echo when msiexec is there and the prompt is elevated, the example's Windows
echo Installer packages: install, upgrade, removal. One PASS, FAIL or SKIP
echo line per step, then "N passed, N failed, N skipped"; exit code 0 when
echo nothing failed, else 1. Nothing it installed is left installed.
echo.
echo   JAVA_HOME  the Java runtime the service runs on (default: %%JAVA_HOME%%)
echo   x64, x86   the launcher template, matching the runtime (default x64)
echo.
echo Run it from an elevated prompt (Run as administrator). The commands' own
echo lines go to kerno-smoke.log in the current directory. docs\windows-check.md
echo says what each line means and what to send when one fails.
exit /b 0

:args_done
if not defined JH set "JH=%JAVA_HOME%"
if exist "%LOG%" del /f /q "%LOG%" >nul 2>&1
echo kerno smoke check>"%LOG%"
if not exist "%LOG%" (
  echo smoke.cmd: cannot write %LOG% in %CD%: run it from a folder you can write to 1>&2
  exit /b 2
)
call :note "kerno smoke check: template kernosvc-%ARCH%.exe, Java home !JH!"
call :note "bundle !BUNDLE!, details in !LOG! in %CD%"

rem ---- what the check needs ---------------------------------------------
set "missing="
for %%f in (kernopack.exe kernosvc-%ARCH%.exe kerno-runtime.jar examples\service.json examples\kerno-demo.jar) do (
  if not exist "!BUNDLE!%%f" set "missing=%%f"
)
if defined missing (
  call :fail setup "the bundle has no !missing!: unpack the whole zip and run smoke.cmd from it"
  goto summary
)
if not defined JH (
  call :fail setup "no Java home: give one as the first argument or set JAVA_HOME"
  goto summary
)
if not exist "!JH!\bin\java.exe" (
  call :fail setup "!JH! holds no bin\java.exe: give the home of a Java runtime 8 or later"
  goto summary
)
rem The test suite's stand-in runtime marks itself with this file.
if exist "!JH!\bin\java-standin.cfg" set "STANDIN=1"
set "NOVM=needs a real Java VM; !JH! is the test stand-in"
echo ^> "!JH!\bin\java.exe" -version>>"%LOG%"
"%JH%\bin\java.exe" -version >>"%LOG%" 2>&1
sc query %SERVICE% >nul 2>&1
if not errorlevel 1 (
  call :fail setup "a service named %SERVICE% is already installed; the check leaves it as it is: remove it first"
  goto summary
)
call :products
if !products! gtr 0 (
  call :fail setup "a product named %SERVICE% is installed - Programs and Features; the check leaves it as it is: remove it first"
  goto summary
)
rem An event source of the name that is there now is not the check's to remove.
set "SOURCE_KEY=HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\%SERVICE%"
set "SOURCE_BEFORE="
reg query "%SOURCE_KEY%" >nul 2>&1
if not errorlevel 1 set "SOURCE_BEFORE=1"
net session >nul 2>&1
if not errorlevel 1 set "ELEVATED=1"
if not defined ELEVATED (
  fltmc >nul 2>&1
  if not errorlevel 1 set "ELEVATED=1"
)
set /a tries=0
:new_work
set /a tries+=1
set "try=%TEMP%\kerno-smoke-!RANDOM!!RANDOM!"
rem Only a folder this run made (Wine's mkdir leaves errorlevel as it was).
if not exist "!try!" (
  mkdir "!try!" >nul 2>&1
  if exist "!try!" set "WORK=!try!"
)
if not defined WORK if !tries! lss 20 goto new_work
if not defined WORK (
  call :fail setup "cannot create a new folder in %TEMP%"
  goto summary
)
set "EXE=!WORK!\%SERVICE%.exe"
set "OUTPUT=!WORK!\logs\service-output.log"

rem ---- the example as a service -----------------------------------------
echo ^> kernopack.exe build examples\service.json --launcher %ARCH% -o "!EXE!">>"%LOG%"
"%BUNDLE%kernopack.exe" build "%BUNDLE%examples\service.json" --launcher %ARCH% -o "%EXE%" >>"%LOG%" 2>&1
if errorlevel 1 (
  call :fail pack "kernopack.exe build ended with exit code !errorlevel!; its message is in the details"
  call :skip_service "the example was not packed" install
  call :skip uninstall "the example was not packed"
  goto msi
)
copy /y "!BUNDLE!kerno-runtime.jar" "!WORK!\" >nul 2>&1
copy /y "!BUNDLE!examples\kerno-demo.jar" "!WORK!\" >nul 2>&1
mkdir "!WORK!\.brindle" >nul 2>&1
rem The service runs as LocalSystem and does not see this prompt's
rem variables: the preferred-runtime file beside it names the Java home.
echo !JH!>"%WORK%\.brindle\pref_jre.cfg"
set "missing="
for %%f in (kerno-runtime.jar kerno-demo.jar .brindle\pref_jre.cfg) do (
  if not exist "!WORK!\%%f" set "missing=%%f"
)
if defined missing (
  call :fail pack "cannot put !missing! into !WORK!"
  call :skip_service "the example's folder is incomplete" install
  call :skip uninstall "the example's folder is incomplete"
  goto msi
)
call :pass pack "!EXE!, with the example's jars and the Java home in .brindle\pref_jre.cfg"

set "SVC_TOUCHED=1"
call :svc /install
if errorlevel 1 (
  set "why=/install ended with exit code !rc!: !last!"
  if not defined ELEVATED set "why=!why! - this prompt is not elevated: use Run as administrator"
  call :fail install "!why!"
  call :skip_service "the service is not installed" start
  goto uninstall
)
call :pass install "service %SERVICE% registered"

call :svc /start
if errorlevel 1 (
  call :fail start "/start ended with exit code !rc!: !last!"
  call :skip_service "the service did not start" started
  goto uninstall
)
call :pass start "!last!"

if defined STANDIN (
  call :skip started "!NOVM!"
  goto status
)
call :wait_for_line "KernoDemo started" 120
if errorlevel 1 (
  call :fail started "no line 'KernoDemo started' in !OUTPUT! within 120 s"
) else (
  call :pass started "the example wrote its start line"
)

:status
call :wait_status 0 60
if errorlevel 1 (
  call :fail status "/status ended with exit code !rc! - !rc_text!, not 0 - running"
) else (
  call :pass status "/status: running, exit code 0"
)

call :svc /threaddump
if errorlevel 1 (
  call :fail threaddump "/threaddump ended with exit code !rc!: !last!"
) else (
  call :threaddump_file
)

call :svc /stop
set "stopped="
if !rc! equ 0 (
  findstr /x /c:"Service stopped" "!WORK!\out.txt" >nul 2>&1
  if not errorlevel 1 set "stopped=1"
)
if defined stopped (
  call :pass stop "/stop: Service stopped"
) else (
  call :fail stop "/stop ended with exit code !rc!: !last!"
)

if defined STANDIN (
  call :skip shutdown "!NOVM!"
  goto uninstall
)
call :wait_for_line "KernoDemo stopping" 10
if errorlevel 1 (
  call :fail shutdown "no line 'KernoDemo stopping' from the shutdown hook in !OUTPUT!"
) else (
  call :pass shutdown "the example's shutdown hook wrote its line"
)

:uninstall
call :svc /uninstall
set "uninstall_rc=!rc!"
set "uninstall_last=!last!"
call :wait_status 2 30
if !uninstall_rc! equ 0 if !rc! equ 2 (
  call :pass uninstall "!uninstall_last! /status: not installed"
  set "SVC_TOUCHED="
  goto msi
)
call :fail uninstall "/uninstall ended with exit code !uninstall_rc!: !uninstall_last!; then /status with !rc! - !rc_text!"

rem ---- the example's Windows Installer packages -------------------------
:msi
set "MSI1=!BUNDLE!examples\msi\%SERVICE%-%ARCH%-1.0.0.msi"
set "MSI2=!BUNDLE!examples\msi\%SERVICE%-%ARCH%-1.0.1.msi"
set "why="
where msiexec >nul 2>&1
if errorlevel 1 set "why=there is no msiexec on this machine"
if not defined why if not defined ELEVATED set "why=needs an elevated prompt: Run as administrator"
if not defined why if not exist "!MSI1!" set "why=the bundle has no examples\msi\%SERVICE%-%ARCH%-1.0.0.msi"
if not defined why if not exist "!MSI2!" set "why=the bundle has no examples\msi\%SERVICE%-%ARCH%-1.0.1.msi"
if not defined why if defined SVC_TOUCHED set "why=the service of the steps above may still be installed"
if not defined why if not defined WORK set "why=there is no work folder"
if defined why (
  call :skip msi-install "!why!"
  call :skip msi-upgrade "!why!"
  call :skip msi-uninstall "!why!"
  goto cleanup
)
set "MSIDIR=!WORK!\msi"
set "EXE=!MSIDIR!\%SERVICE%.exe"
set "MSI_TOUCHED=1"
set margs=/i "!MSI1!" INSTALLDIR="!MSIDIR!"
call :msiexec install
if errorlevel 1 (
  call :fail msi-install "msiexec /i of 1.0.0 ended with exit code !rc!; its log is in the details"
  call :skip msi-upgrade "the first version is not installed"
  call :skip msi-uninstall "the first version is not installed"
  goto cleanup
)
call :svc /status
call :products
if not !rc! equ 3 (
  call :fail msi-install "after msiexec /i, /status ended with exit code !rc! - !rc_text!, not 3 - stopped"
) else if not !products! equ 1 (
  call :fail msi-install "after msiexec /i, !products! products named %SERVICE% are installed, not 1"
) else (
  call :pass msi-install "1.0.0 installed !EXE!, service %SERVICE% registered and stopped"
)

set margs=/i "!MSI2!"
call :msiexec upgrade
if errorlevel 1 (
  call :fail msi-upgrade "msiexec /i of 1.0.1 ended with exit code !rc!; its log is in the details"
  goto msi_uninstall
)
call :svc /status
call :products
if not !rc! equ 3 (
  call :fail msi-upgrade "after the upgrade, /status ended with exit code !rc! - !rc_text!, not 3 - stopped"
) else if not !products! equ 1 (
  call :fail msi-upgrade "after the upgrade, !products! products named %SERVICE% are installed, not 1: 1.0.0 was not replaced"
) else (
  call :pass msi-upgrade "1.0.1 replaced 1.0.0: one product %SERVICE%, service still registered"
)

:msi_uninstall
set margs=/x "!MSI2!"
call :msiexec uninstall
set "msi_rc=!rc!"
call :products
call :service_gone
if !msi_rc! equ 0 if not errorlevel 1 if not exist "!EXE!" if !products! equ 0 (
  call :pass msi-uninstall "1.0.1 removed: no product or service %SERVICE%, no !EXE!"
  set "MSI_TOUCHED="
  goto cleanup
)
call :fail msi-uninstall "msiexec /x ended with exit code !msi_rc!; left: !products! products, the service or its files; its log is in the details"

rem ---- whatever happened: nothing left ------------------------------------
:cleanup
if defined MSI_TOUCHED (
  echo ^> removing what the packages left>>"%LOG%"
  msiexec /x "!MSI2!" /qn /norestart>nul 2>&1
  msiexec /x "!MSI1!" /qn /norestart>nul 2>&1
  set "SVC_TOUCHED=1"
)
if defined SVC_TOUCHED (
  echo ^> removing what the service steps left>>"%LOG%"
  if exist "%WORK%\%SERVICE%.exe" call :svc_cleanup
  call :service_gone
  if errorlevel 1 sc delete %SERVICE%>nul 2>&1
)
if not defined WORK goto summary
if exist "!OUTPUT!" (
  echo ---- the service's output>>"%LOG%"
  type "%OUTPUT%" >>"%LOG%" 2>&1
)
set /a tries=0
:remove_work
set /a tries+=1
rmdir /s /q "!WORK!" >nul 2>&1
if exist "!WORK!" if !tries! lss 20 (
  call :sleep
  goto remove_work
)
if not defined SOURCE_BEFORE (
  reg query "%SOURCE_KEY%" >nul 2>&1
  if not errorlevel 1 reg delete "%SOURCE_KEY%" /f >nul 2>&1
)
set "left="
if defined SVC_TOUCHED (
  call :service_gone
  if errorlevel 1 set "left=service %SERVICE%; "
)
if defined MSI_TOUCHED (
  call :products
  if !products! gtr 0 set "left=!left!!products! products %SERVICE%; "
)
if not defined SOURCE_BEFORE (
  reg query "%SOURCE_KEY%" >nul 2>&1
  if not errorlevel 1 set "left=!left!event source %SERVICE%; "
)
if exist "!WORK!" set "left=!left!folder !WORK!"
if defined left (
  call :fail cleanup "left behind: !left!"
) else (
  call :pass cleanup "nothing left: no service, product or event source %SERVICE%, !WORK! removed"
)

:summary
call :note "!passed! passed, !failed! failed, !skipped! skipped"
if !failed! gtr 0 exit /b 1
exit /b 0


rem ---- helpers --------------------------------------------------------------
:pass
set /a passed+=1
call :note "PASS %~1: %~2"
exit /b 0

:fail
set /a failed+=1
call :note "FAIL %~1: %~2"
exit /b 0

:skip
set /a skipped+=1
call :note "SKIP %~1: %~2"
exit /b 0

:note
rem A line on the console and in the log.
set "line=%~1"
echo.!line!
echo.!line!>>"%LOG%"
exit /b 0

:skip_service
rem SKIP lines, reason %1, for the service steps from %2 on up to uninstall,
rem which runs whenever install was tried.
set "on="
for %%s in (install start started status threaddump stop shutdown) do (
  if "%%s"=="%~2" set "on=1"
  if defined on call :skip %%s "%~1"
)
exit /b 0

:svc
rem Runs the service executable with %*: its lines to the log, its exit code
rem in rc and errorlevel, its last line in last, what rc means for /status
rem in rc_text.
echo ^> %SERVICE%.exe %*>>"%LOG%"
rem No blank before the redirection: it would end the command tail, and
rem the launcher takes what follows the first blank after the command word
rem as a service name.
"%EXE%" %*>"%WORK%\out.txt" 2>&1
set "rc=!errorlevel!"
type "%WORK%\out.txt" >>"%LOG%" 2>&1
set "last=no output"
for /f "usebackq delims=" %%l in ("%WORK%\out.txt") do set "last=%%l"
set "rc_text=failed"
if "!rc!"=="0" set "rc_text=running"
if "!rc!"=="2" set "rc_text=not installed"
if "!rc!"=="3" set "rc_text=stopped"
if "!rc!"=="4" set "rc_text=pending"
exit /b !rc!

:svc_cleanup
set "EXE=%WORK%\%SERVICE%.exe"
call :svc /uninstall
exit /b 0

:wait_status
rem Runs /status until its exit code is %1, at most %2 times a second
rem apart; errorlevel 0 when it was. A started service that is stopped
rem (3) will not run any more.
set /a waited=0
:wait_status_again
call :svc /status
if !rc! equ %1 exit /b 0
if %1 equ 0 if !rc! equ 3 exit /b 1
set /a waited+=1
if !waited! geq %2 exit /b 1
call :sleep
goto wait_status_again

:wait_for_line
rem Waits up to %2 seconds for the text %1 in the service's output.
set /a waited=0
:wait_for_line_again
if exist "!OUTPUT!" (
  findstr /c:"%~1" "!OUTPUT!" >nul 2>&1
  if not errorlevel 1 exit /b 0
)
set /a waited+=1
if !waited! geq %2 exit /b 1
call :sleep
goto wait_for_line_again

:threaddump_file
set "dump="
for /f "delims=" %%d in ('dir /b /o:d "%WORK%\logs\threaddump-%SERVICE%-*.txt" 2^>nul') do set "dump=%WORK%\logs\%%d"
if not defined dump (
  call :fail threaddump "/threaddump said: !last!; but there is no threaddump-%SERVICE%-*.txt in !WORK!\logs"
  exit /b 0
)
echo ---- !dump!>>"%LOG%"
type "%dump%" >>"%LOG%" 2>&1
if defined STANDIN (
  call :pass threaddump "wrote !dump!; its threads are checked with a real Java VM only"
  exit /b 0
)
findstr /c:"com.example.demo.DemoService" "!dump!" >nul 2>&1
if errorlevel 1 (
  call :fail threaddump "!dump! does not show the example's thread, com.example.demo.DemoService"
) else (
  call :pass threaddump "!dump! shows the example's thread"
)
exit /b 0

:msiexec
rem msiexec with the arguments in margs, quiet, logged to msi-%1.log (kept
rem in the details when it failed); rc 0 when it succeeded (3010, a restart
rem wanted, counts as success).
set "msilog=!WORK!\msi-%~1.log"
echo ^> msiexec !margs! /qn /norestart /l*v "!msilog!">>"%LOG%"
rem Its output goes nowhere (it has its own log): under Wine, what it starts
rem inherits the handles and keeps them open after it ended.
msiexec %margs% /qn /norestart /l*v "%msilog%">nul 2>&1
set "rc=!errorlevel!"
if "!rc!"=="3010" set "rc=0"
if not "!rc!"=="0" if exist "%msilog%" type "%msilog%" >>"%LOG%" 2>&1
exit /b !rc!

:products
rem How many installed products are named like the service, in products:
rem the larger count of the two registry views (a 32-bit package's entry is
rem in the 32-bit one; where /reg:64 is not honoured, both show one view).
set /a products=0
for %%v in (/reg:64 /reg:32) do (
  set /a in_view=0
  for /f "tokens=1,2,*" %%a in ('reg query "HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall" /s /v DisplayName %%v 2^>nul') do (
    if "%%a %%b %%c"=="DisplayName REG_SZ %SERVICE%" set /a in_view+=1
  )
  if !in_view! gtr !products! set /a products=in_view
)
exit /b 0

:service_gone
rem errorlevel 0 when no service of the name is registered.
sc query %SERVICE% >nul 2>&1
if errorlevel 1 exit /b 0
exit /b 1

:sleep
rem About a second (timeout.exe is not everywhere).
ping -n 2 127.0.0.1 >nul 2>&1
exit /b 0
