' A script client (VBScript passes every variable as a VARIANT by reference): a UDS session
' through the installed Vector library; the exit code counts the failed checks.
Option Explicit
Dim dbr, id, ecu, result, response, info, failures
failures = 0

Sub Check(ok, what)
  If ok Then
    WScript.Echo "ok: " & what
  Else
    WScript.Echo "FAIL: " & what
    failures = failures + 1
  End If
End Sub

Set dbr = CreateObject("DiagBridgeV4.CommandInterface")
Check Left(dbr.DbrGetVersion(""), 17) = "DiagBridgeV4.dll ", "DbrGetVersion"
id = dbr.DbrCreateCommunicationObject("UDS_ISO_14229|VECTOR=1|BAUDRATE=500000")
ecu = dbr.DbrCreateEcuObject("T60.1", id)
Check id = 0 And ecu = 1000, "objects created"
Check dbr.DbrConnect(ecu) = 0, "DbrConnect"
response = ""
result = dbr.DbrSingleRequest(ecu, "22 F1 90", response)
Check result = 0 And Left(response, 8) = "62 F1 90", "DbrSingleRequest answers " & response
info = Empty
Check dbr.DbrGetConfiguration(ecu, info) = 0 And Left(info, 5) = "T60.1", "DbrGetConfiguration"
Check dbr.DbrDisconnect(ecu) >= 0, "DbrDisconnect"
Check dbr.DbrDeleteCommunicationObject(id) = 0, "communication object deleted"
Set dbr = Nothing
WScript.Quit failures
