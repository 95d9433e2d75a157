REM The install script of the OpenSAFELY job runner (a Python service, not Java).
nssm install opensafely "C:\Program Files\Python39\python" -m jobrunner.service
nssm set opensafely AppDirectory E:\job-runner
nssm set opensafely DisplayName "OpenSAFELY job runner"
nssm set opensafely Start SERVICE_AUTO_START
