// zolhost: placeholder until the host lands.
#include <windows.h>
int wmain(int argc, wchar_t** argv) { return 0; }
