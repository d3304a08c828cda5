// A DLL that a user library imports from, as the mail server's own library
// imports DLLs that lie beside it.
extern "C" __declspec(dllexport) int VL_DependencyAnswer(void)
{
    return 42;
}
