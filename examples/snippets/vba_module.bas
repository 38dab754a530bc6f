Attribute VB_Name = "VrlcomExample"
' VRLCOM from VBA (Excel, Access, Word): late binding, so no reference needs to be set.
' 32-bit Office loads the x86 VRLCOM.DLL, 64-bit Office the x64 one: register the matching DLL.
' For early binding instead, add a reference to "VRLCOM 1.0 Type Library" and write
' Dim vorel As New VRLCOMLib.Vorel.
Option Explicit

Public Sub SendOneMessage()
    Dim vorel As Object
    Dim status As Long, text As String, id As String

    Set vorel = CreateObject("VRLCOM.Vorel")
    vorel.StartCon "127.0.0.1", "7000", "demo", "demo", status
    If status <> 0 Then
        MsgBox "StartCon failed with status " & status
        Exit Sub
    End If

    vorel.SendMsg "0912345678", "Hello from VBA", status, text
    Debug.Print "SendMsg: status " & status & ", text " & text   ' text = message id on success

    ' Named arguments work too, in any order.
    id = text
    vorel.QueryMsg MessageID:=id, MobileNum:="0912345678", pBVal:=text, pVal:=status
    Debug.Print "QueryMsg: status " & status & ", text " & text

    vorel.EndCon
End Sub
