#include "app/testquorvex.h"

int main(int argc, char** argv) {
    host_start(argc, argv);
    return testquorvex_main(argc, argv);
}
