// A library exported the careless way (no .def file): on 32-bit Windows its export comes out
// decorated as "Decorated@4". The export check must reject it.
#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI Decorated(int x) {
    return x;
}
