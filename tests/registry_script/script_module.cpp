// A module that only carries registry script resources for the resource-loading tests.
extern "C" __declspec(dllexport) int VrlScriptModuleVersion() {
    return 1;
}
