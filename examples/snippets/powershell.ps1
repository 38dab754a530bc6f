# VRLCOM from PowerShell. Windows PowerShell x64 loads the x64 VRLCOM.DLL; the x86 shell
# (%SystemRoot%\SysWOW64\WindowsPowerShell\v1.0\powershell.exe) loads the x86 one.
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
