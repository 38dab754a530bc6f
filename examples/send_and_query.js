// VRLCOM from JScript: connect, send a message now, schedule one, query one, and disconnect.
//
//   cscript //nologo send_and_query.js [server] [port] [user] [password] [mobile] [message id]
//
// Limitation: JScript passes every argument by value, so the component's results (the status
// in pVal and the text in pBVal) never reach the script. The calls are made and the gateway
// acts on them, but the script cannot see whether a step succeeded, nor the id of a sent
// message: use VBScript, or a language with by-reference arguments, when you need them.
var args = WScript.Arguments;
function argument(index, fallback) {
    return args.length > index ? args(index) : fallback;
}
var server = argument(0, "127.0.0.1");
var port = argument(1, "7000");
var user = argument(2, "demo");
var password = argument(3, "demo");
var mobile = argument(4, "0912345678");
var messageId = argument(5, "1000001");

var failures = 0;
function step(name, call) {
    try {
        call();
        WScript.Echo(name + ": called");
    } catch (e) {
        WScript.Echo(name + ": error " + (e.number >>> 0).toString(16) + " " + e.description);
        failures++;
    }
}

var vorel = new ActiveXObject("VRLCOM.Vorel");
// Placeholders for the result arguments: the script keeps its own values.
var status = 0, text = "";
step("StartCon", function () { vorel.StartCon(server, port, user, password, status); });
step("SendMsg", function () { vorel.SendMsg(mobile, "Hello from JScript", status, text); });
step("SendMsg_Order", function () {
    vorel.SendMsg_Order(mobile, "Happy new year", "20270101000000", status, text);
});
step("QueryMsg", function () { vorel.QueryMsg(mobile, messageId, status, text); });
step("EndCon", function () { vorel.EndCon(); });
WScript.Quit(failures);
