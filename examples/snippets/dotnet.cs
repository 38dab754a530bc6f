// VRLCOM from .NET (C#), late bound through dynamic: no interop assembly needed.
// The process loads the DLL of its own architecture, which follows the project's platform target:
//   <PlatformTarget>x86</PlatformTarget>, or AnyCPU with <Prefer32Bit>true</Prefer32Bit>: x86\VRLCOM.DLL
//   <PlatformTarget>x64</PlatformTarget>, or AnyCPU without Prefer32Bit on 64-bit Windows: x64\VRLCOM.DLL
// The calls run on a single-threaded apartment thread ([STAThread]), the object's own apartment; from
// a thread of the multithreaded apartment (a service, ASP.NET, a Task) they would go through a proxy,
// one at a time for all such threads.
// Early binding: run `tlbimp VRLCOM.tlb` (or add a COM reference to "VRLCOM 1.0 Type Library") and
// use VRLCOMLib.Vorel with the same calls.
using System;
using System.Runtime.InteropServices;

static class VrlcomExample
{
    [STAThread]
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
