' Bad input through the script host: 1 MB strings in every parameter, empty strings and Null,
' 160-, 161-byte and over-long requests, and gateways that close, answer garbage or stall. Every
' call must return with its status, and the host must go on working.
' Arguments: the ports of a normal simulator, one that closes after the login, one whose replies
' are 129 bytes without a NUL, one that replies with the status byte alone, and one that stops
' answering after the login. The exit code counts the failed checks.
Option Explicit

Dim normal, closing, longReply, oneByte, stalling
normal = WScript.Arguments(0)
closing = WScript.Arguments(1)
longReply = WScript.Arguments(2)
oneByte = WScript.Arguments(3)
stalling = WScript.Arguments(4)
Dim failures : failures = 0

Sub Check(what, got, expected)
    If got <> expected Then
        WScript.Echo "FAILED " & what & ": got [" & got & "], expected [" & expected & "]"
        failures = failures + 1
    End If
End Sub

Const tooLong = "request content > max limit"
Const messageTooLong = "message content > max limit"
Dim big : big = String(1048576, "a")
Dim vorel, status, text
Set vorel = CreateObject("VRLCOM.Vorel")

Sub Start(port, what, expected)
    status = -999
    vorel.StartCon "127.0.0.1", port, "demo", "demo", status
    Check what, status, expected
End Sub

Sub Send(what, mobile, message, expectedStatus, expectedText)
    status = -999 : text = "unchanged"
    vorel.SendMsg mobile, message, status, text
    Check what & " status", status, expectedStatus
    Check what & " text", text, expectedText
End Sub

' 1 MB in each parameter of StartCon: no address, no port, a login that does not fit a frame.
status = -999 : vorel.StartCon big, normal, "demo", "demo", status : Check "1 MB ServerIP", status, -3
status = -999 : vorel.StartCon "127.0.0.1", big, "demo", "demo", status : Check "1 MB ServerPort", status, -3
status = -999 : vorel.StartCon "127.0.0.1", normal, big, "demo", status : Check "1 MB UserID", status, -6
status = -999 : vorel.StartCon "127.0.0.1", normal, "demo", big, status : Check "1 MB Passwd", status, -6
status = -999 : vorel.StartCon "", "", "", "", status : Check "empty StartCon", status, -3

Start normal, "StartCon", 0
Send "1 MB MobileNum", big, "hi", -6, tooLong
Send "1 MB Message", "0912345678", big, 80, messageTooLong

status = -999 : text = ""
vorel.SendMsg_Order big, "hi", "20261225120000", status, text
Check "1 MB SendMsg_Order MobileNum", status, -6
vorel.SendMsg_Order "0912345678", big, "20261225120000", status, text
Check "1 MB SendMsg_Order Message", status, 80
vorel.SendMsg_Order "0912345678", "hi", big, status, text
Check "1 MB Send_Time", status, -6
Check "1 MB Send_Time text", text, tooLong
vorel.QueryMsg big, "1000001", status, text
Check "1 MB QueryMsg MobileNum", status, -6
vorel.QueryMsg "0912345678", big, status, text
Check "1 MB MessageID", status, -6

' Empty strings reach the gateway, which refuses them.
Send "empty SendMsg", "", "", 7, "invalid mobile number"
status = -999 : text = ""
vorel.QueryMsg "", "", status, text
Check "empty QueryMsg", status, 3
Check "empty QueryMsg text", text, "unknown message id"

' The message limit counts bytes: 160 go, 161 are refused locally; a request whose fields do not
' fit one frame is refused locally too.
Send "160 bytes", "0912345678", String(160, "m"), 0, "1000001"
Send "161 bytes", "0912345678", String(161, "m"), 80, messageTooLong
Send "over-long request", String(100, "1"), String(160, "m"), -6, tooLong

' Null is no string: the call is refused before it reaches the component, and nothing changes.
status = -999
On Error Resume Next
vorel.SendMsg Null, "hi", status, text
Dim nullError : nullError = Err.Number
On Error GoTo 0
If nullError = 0 Then
    WScript.Echo "FAILED Null MobileNum: no error"
    failures = failures + 1
End If
Check "Null MobileNum status", status, -999

' The connection survived all of that.
Send "after bad input", "0912345678", "still here", 0, "1000002"
vorel.EndCon

' A gateway that closes the connection: the receive fails, then the send.
Start closing, "StartCon closing gateway", 0
Send "closed gateway", "0912345678", "hi", -5, "socket receive error!"
Send "after the close", "0912345678", "hi", -4, "socket send error!"

' Garbage: a reply of 129 bytes without NUL gives its status byte and 128 bytes of text.
Start longReply, "StartCon long replies", 0
status = -999 : text = ""
vorel.SendMsg "0912345678", "hi", status, text
Check "long reply status", status, 0
Check "long reply text length", Len(text), 128
Check "long reply text start", Left(text, 7), "1000001"
vorel.EndCon

Start oneByte, "StartCon one-byte replies", 0
Send "one-byte reply", "0912345678", "hi", 0, ""
vorel.EndCon

' A gateway that stops answering: the receive gives up.
Start stalling, "StartCon stalling gateway", 0
Send "stalled gateway", "0912345678", "hi", -5, "socket receive error!"

' And the host goes on working.
Start normal, "StartCon again", 0
Send "after the faults", "0912345678", "back", 0, "1000003"
vorel.EndCon

WScript.Echo "checks failed: " & failures
WScript.Quit failures
