// Every construct tests/portable_code.py must find, each once, and lookalikes it must pass over.
#include <cstdio>
constexpr int kFixed = 4;
#define SIZE 8
int f(int n, const char* s) {
    int ok[kFixed + SIZE] = {};
    char vla[n];
    int count = n * 2;
    unsigned char buf[count + 1];
    const char* text = "__attribute__ ({ x; }) case 1 ... 3:";  // typeof __builtin_expect
    int y = ({ int t = n; t + 1; });
    __typeof__(y) z = y;
    switch (n) { case 1 ... 3: break; }
    if (__builtin_expect(n, 0)) return 1;
    g({1, 2}); h({[] { return 1; }});
    int big[sizeof(int) * 2];
    return ok[0] + vla[0] + buf[0] + z + big[0] + text[0] + s[n];
}
void p(const char* f, ...) __attribute__((format(printf, 1, 2)));
