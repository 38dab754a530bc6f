' By-name calls from VBScript: every status and text read back into the script's variables,
' whatever they held before, also through procedures that pass their ByRef parameters on; values
' in place of variables; the errors the host reports for a missing argument and an unknown method.
' Argument: the simulator's port.
Option Explicit

Dim port : port = WScript.Arguments(0)
Dim failures : failures = 0

' A status comes back as a 32-bit integer (vbLong), a text as a string.
Sub Check(what, got, expected)
    Dim wanted : wanted = vbString
    If VarType(expected) <> vbString Then wanted = vbLong
    If VarType(got) <> wanted Then
        WScript.Echo "FAILED " & what & ": got type " & VarType(got) & ", expected type " & wanted
        failures = failures + 1
    ElseIf got <> expected Then
        WScript.Echo "FAILED " & what & ": got [" & got & "], expected [" & expected & "]"
        failures = failures + 1
    End If
End Sub

Sub CheckError(what, expected)
    If Err.Number <> expected Then
        WScript.Echo "FAILED " & what & ": error " & Err.Number & ", expected " & expected
        failures = failures + 1
    End If
    Err.Clear
End Sub

Dim vorel, status, text, id, both
Set vorel = CreateObject("VRLCOM.Vorel")

status = "not yet"
vorel.StartCon "127.0.0.1", port, "demo", "demo", status
Check "StartCon", status, 0

text = 12
vorel.SendMsg "0912345678", "Hello", status, text
Check "SendMsg status", status, 0
Check "SendMsg text", text, "1000001"
id = text

status = Empty : text = Null
vorel.SendMsg_Order "0912345678", "Later", "20261225120000", status, text
Check "SendMsg_Order status", status, 0
Check "SendMsg_Order text", text, "1000002"

vorel.QueryMsg "0912345678", id, status, text
Check "QueryMsg status", status, 0
Check "QueryMsg text", text, "DELIVERED"

' One variable for both results: the text is written last.
vorel.QueryMsg "0912345678", "1000002", both, both
Check "QueryMsg into one variable", both, "SCHEDULED 20261225120000"

' A refused send time comes back like any other status.
vorel.SendMsg_Order "0912345678", "Later", "tomorrow", status, text
Check "bad send time status", status, 4
Check "bad send time text", text, "malformed send time, expected YYYYMMDDhhmmss"

' Values in place of variables: the method runs and its results are dropped.
status = CLng(7) : text = "kept"
vorel.SendMsg "0912345678", "in parentheses", (status), (text)
Check "parenthesised status", status, 7
Check "parenthesised text", text, "kept"
vorel.SendMsg "0912345678", "literals", 5, "literal"

' Procedures passing their own ByRef parameters on: the results reach the outermost variables.
Sub SendThrough(ByRef st, ByRef tx)
    vorel.SendMsg "0912345678", "passed on", st, tx
End Sub
Sub SendTwiceRemoved(ByRef st, ByRef tx)
    SendThrough st, tx
End Sub
status = "before" : text = Empty
SendThrough status, text
Check "ByRef passed on status", status, 0
Check "ByRef passed on text type", TypeName(text), "String"
Dim first : first = text
status = Null : text = 3.5
SendTwiceRemoved status, text
Check "ByRef passed on twice status", status, 0
If text = first Or Not IsNumeric(text) Then
    WScript.Echo "FAILED ByRef passed on twice text: [" & text & "] after [" & first & "]"
    failures = failures + 1
End If
id = text
vorel.QueryMsg "0912345678", id, status, text
Check "the id passed back twice", text, "DELIVERED"

On Error Resume Next
vorel.SendMsg "0912345678", "an argument missing", status
CheckError "SendMsg without its text", 450
vorel.SendMessage "0912345678", "no such method", status, text
CheckError "an unknown method", 438
On Error GoTo 0

vorel.EndCon
vorel.SendMsg "0912345678", "after the end", status, text
Check "SendMsg after EndCon status", status, -4
Check "SendMsg after EndCon text", text, "socket send error!"

WScript.Echo "checks failed: " & failures
WScript.Quit failures
