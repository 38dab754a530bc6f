// JScript calls the five methods by name. It passes every argument by value, so nothing comes back
// into its variables; the test counts the requests the gateway received. Too few arguments are
// refused with 0x8002000E. Argument: the simulator's port.
var port = WScript.Arguments(0);
var failures = 0;

function fail(what) {
    WScript.Echo("FAILED " + what);
    failures++;
}

var vorel = new ActiveXObject("VRLCOM.Vorel");
var status = -999, text = "unchanged";
try {
    vorel.StartCon("127.0.0.1", port, "demo", "demo", status);
    vorel.SendMsg("0912345678", "from JScript", status, text);
    vorel.SendMsg_Order("0912345678", "later from JScript", "20261225120000", status, text);
    vorel.QueryMsg("0912345678", "1000001", status, text);
} catch (e) {
    fail("error " + (e.number >>> 0).toString(16) + " " + e.description);
}
if (status !== -999 || text !== "unchanged") {
    fail("the script's variables changed");
}

try {
    vorel.SendMsg("0912345678", "too few");
    fail("too few arguments accepted");
} catch (e) {
    if ((e.number >>> 0) !== 0x8002000E) {
        fail("too few arguments: error " + (e.number >>> 0).toString(16));
    }
}

try {
    vorel.EndCon();
} catch (e) {
    fail("EndCon: error " + (e.number >>> 0).toString(16));
}

WScript.Echo("checks failed: " + failures);
WScript.Quit(failures);
