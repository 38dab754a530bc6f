' VRLCOM from VBScript: connect to a gateway, send a message now, schedule one, query both, and
' disconnect, printing every status and text.
'
'   cscript //nologo send_and_query.vbs [server] [port] [user] [password] [mobile]
'
' Defaults: 127.0.0.1 7000 demo demo 0912345678 (the bundled gateway simulator's account).
' The exit code is the number of steps that did not return status 0.
Option Explicit

Dim args, server, port, user, password, mobile
Set args = WScript.Arguments
server = Argument(0, "127.0.0.1")
port = Argument(1, "7000")
user = Argument(2, "demo")
password = Argument(3, "demo")
mobile = Argument(4, "0912345678")

Function Argument(index, fallback)
    If args.Count > index Then Argument = args(index) Else Argument = fallback
End Function

Dim failures : failures = 0

' Every method reports through its last arguments: the status (0 = done) and, for the message
' methods, a text. They must be variables, so that the component can write to them.
Sub Report(stepName, status, text)
    WScript.Echo stepName & ": status " & status & ", text """ & text & """"
    If status <> 0 Then failures = failures + 1
End Sub

Dim vorel, status, text, sentId, scheduledId
Set vorel = CreateObject("VRLCOM.Vorel")

status = -999
vorel.StartCon server, port, user, password, status
Report "StartCon " & server & ":" & port, status, ""
If status <> 0 Then
    WScript.Echo "no connection: is the gateway running?"
    WScript.Quit failures
End If

status = -999 : text = ""
vorel.SendMsg mobile, "Hello from VBScript", status, text
Report "SendMsg", status, text
sentId = text

' The send time is local time as YYYYMMDDhhmmss.
status = -999 : text = ""
vorel.SendMsg_Order mobile, "Merry Christmas", "20261225120000", status, text
Report "SendMsg_Order", status, text
scheduledId = text

status = -999 : text = ""
vorel.QueryMsg mobile, sentId, status, text
Report "QueryMsg " & sentId, status, text

status = -999 : text = ""
vorel.QueryMsg mobile, scheduledId, status, text
Report "QueryMsg " & scheduledId, status, text

vorel.EndCon
WScript.Echo "EndCon"
Set vorel = Nothing

WScript.Quit failures
