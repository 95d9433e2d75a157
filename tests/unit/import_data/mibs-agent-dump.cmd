rem What `nssm dump` prints for the MIBS Cabinet Agent once installed as its
rem script (alexeikulikoff/mibs-cabinet-agent, service-install.bat) means it.
"C:\Program Files\nssm-2.24\win64\nssm.exe" install MIBS-Cabinet-Agent java.exe
"C:\Program Files\nssm-2.24\win64\nssm.exe" set MIBS-Cabinet-Agent AppParameters "-Xmx400m -jar d:\mibs-cabinet-agent\mibs-cabinet-agent.jar d:\mibs-cabinet-agent\config.properties"
"C:\Program Files\nssm-2.24\win64\nssm.exe" set MIBS-Cabinet-Agent AppDirectory d:\mibs-cabinet-agent
"C:\Program Files\nssm-2.24\win64\nssm.exe" set MIBS-Cabinet-Agent AppExit Default Restart
"C:\Program Files\nssm-2.24\win64\nssm.exe" set MIBS-Cabinet-Agent AppRestartDelay 1000
"C:\Program Files\nssm-2.24\win64\nssm.exe" set MIBS-Cabinet-Agent DisplayName MIBS-Cabinet-Agent
"C:\Program Files\nssm-2.24\win64\nssm.exe" set MIBS-Cabinet-Agent ObjectName LocalSystem
"C:\Program Files\nssm-2.24\win64\nssm.exe" set MIBS-Cabinet-Agent Start SERVICE_AUTO_START
"C:\Program Files\nssm-2.24\win64\nssm.exe" set MIBS-Cabinet-Agent Type SERVICE_WIN32_OWN_PROCESS
