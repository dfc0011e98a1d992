#include "app/testquorvex.h"

int main(int argc, char** argv) {
    host_start();
    return testquorvex_main(argc, argv);
}
