// JScript calls the five methods by name. Its arguments go by value, so no result comes back:
// the test looks at what the gateway received. Arguments: the simulator's port.
var port = WScript.Arguments(0);
var failures = 0;
try {
    var vorel = new ActiveXObject("VRLCOM.Vorel");
    var status = -999, text = "unchanged";
    vorel.StartCon("127.0.0.1", port, "demo", "demo", status);
    vorel.SendMsg("0912345678", "from JScript", status, text);
    vorel.SendMsg_Order("0912345678", "later from JScript", "20261225120000", status, text);
    vorel.QueryMsg("0912345678", "1000001", status, text);
    vorel.EndCon();
    // The script's own variables keep their values.
    if (status !== -999 || text !== "unchanged") {
        WScript.Echo("FAILED: the script's variables changed");
        failures++;
    }
} catch (e) {
    WScript.Echo("FAILED: error " + (e.number >>> 0).toString(16) + " " + e.description);
    failures++;
}
WScript.Quit(failures);
