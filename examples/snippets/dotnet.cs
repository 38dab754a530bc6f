// VRLCOM from .NET (C#), late bound through dynamic: no interop assembly needed. The process must
// match the registered DLL's architecture (x86 for the x86 DLL: <PlatformTarget>x86</PlatformTarget>).
// Early binding: run `tlbimp VRLCOM.tlb` (or add a COM reference to "VRLCOM 1.0 Type Library") and
// use VRLCOMLib.Vorel with the same calls.
using System;
using System.Runtime.InteropServices;

static class VrlcomExample
{
    static void Main()
    {
        Type type = Type.GetTypeFromProgID("VRLCOM.Vorel", throwOnError: true);
        dynamic vorel = Activator.CreateInstance(type);
        try
        {
            int status = 0;
            string text = "";

            vorel.StartCon("127.0.0.1", "7000", "demo", "demo", ref status);
            if (status != 0) throw new Exception($"StartCon failed with status {status}");

            vorel.SendMsg("0912345678", "Hello from .NET", ref status, ref text);
            Console.WriteLine($"SendMsg: status {status}, text {text}");   // text = message id

            string id = text;
            vorel.QueryMsg("0912345678", id, ref status, ref text);
            Console.WriteLine($"QueryMsg: status {status}, text {text}");

            vorel.EndCon();
        }
        finally
        {
            Marshal.ReleaseComObject(vorel);
        }
    }
}
