' All five methods by name through both ProgIDs against a fresh gateway simulator, every status
' and text read back. Arguments: the simulator's port. The exit code counts the failed checks.
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

' Ids count up from 1000001 for each simulator: each object sends two messages.
Sub Exercise(progId, firstId)
    Dim vorel, status, text, secondId
    Set vorel = CreateObject(progId)
    secondId = CStr(CLng(firstId) + 1)

    status = -999
    vorel.StartCon "127.0.0.1", port, "demo", "wrong", status
    Check progId & " StartCon refused", status, 1

    status = -999
    vorel.StartCon "127.0.0.1", port, "demo", "demo", status
    Check progId & " StartCon", status, 0

    status = -999 : text = Empty
    vorel.SendMsg "0912345678", "Hello", status, text
    Check progId & " SendMsg status", status, 0
    Check progId & " SendMsg text", text, firstId

    status = -999 : text = "old text"
    vorel.SendMsg_Order "0912345678", "Later", "20261225120000", status, text
    Check progId & " SendMsg_Order status", status, 0
    Check progId & " SendMsg_Order text", text, secondId

    vorel.QueryMsg "0912345678", firstId, status, text
    Check progId & " QueryMsg status", status, 0
    Check progId & " QueryMsg text", text, "DELIVERED"

    vorel.QueryMsg "0912345678", secondId, status, text
    Check progId & " QueryMsg scheduled", text, "SCHEDULED 20261225120000"

    vorel.QueryMsg "0912345678", "42", status, text
    Check progId & " QueryMsg unknown status", status, 3
    Check progId & " QueryMsg unknown text", text, "unknown message id"

    vorel.SendMsg_Order "0912345678", "Later", "tomorrow", status, text
    Check progId & " SendMsg_Order bad time status", status, 4
    Check progId & " SendMsg_Order bad time text", text, "malformed send time, expected YYYYMMDDhhmmss"

    vorel.SendMsg "0912345678", String(161, "m"), status, text
    Check progId & " 161 bytes status", status, 80
    Check progId & " 161 bytes text", text, "message content > max limit"

    vorel.EndCon

    vorel.SendMsg "0912345678", "after the end", status, text
    Check progId & " SendMsg after EndCon status", status, -4
    Check progId & " SendMsg after EndCon text", text, "socket send error!"
    Set vorel = Nothing
End Sub

Exercise "VRLCOM.Vorel", "1000001"
Exercise "VRLCOM.Vorel.1", "1000003"

WScript.Echo "checks failed: " & failures
WScript.Quit failures
