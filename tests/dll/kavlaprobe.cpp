// A DLL that only the DLL-search tests load by name, from wherever they put
// a copy: whether it loads tells which folders the search takes.
extern "C" __declspec(dllexport) int KavlaProbe(void)
{
    return 42;
}
