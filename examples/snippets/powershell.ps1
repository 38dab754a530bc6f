# VRLCOM from PowerShell. Each shell loads the registered DLL of its own architecture:
#   %SystemRoot%\System32\WindowsPowerShell\v1.0\powershell.exe (the Start menu's "Windows
#   PowerShell" on 64-bit Windows) and PowerShell 7 x64 (pwsh.exe): the x64 VRLCOM.DLL
#   %SystemRoot%\SysWOW64\WindowsPowerShell\v1.0\powershell.exe ("Windows PowerShell (x86)"): the x86 one
# [Environment]::Is64BitProcess tells which one runs. "Class not registered" (0x80040154) means the
# DLL of this shell's architecture is not registered.
# Result arguments are passed with [ref] so that the component can write to them.
$vorel = New-Object -ComObject VRLCOM.Vorel
$status = 0
$text = ""

$vorel.StartCon("127.0.0.1", "7000", "demo", "demo", [ref]$status)
if ($status -ne 0) { throw "StartCon failed with status $status" }

$vorel.SendMsg("0912345678", "Hello from PowerShell", [ref]$status, [ref]$text)
"SendMsg: status $status, text $text"          # text = message id on success

$vorel.QueryMsg("0912345678", $text, [ref]$status, [ref]$text)
"QueryMsg: status $status, text $text"

$vorel.EndCon()
[System.Runtime.InteropServices.Marshal]::ReleaseComObject($vorel) | Out-Null
