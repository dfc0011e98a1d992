#include "app/testquorvex.h"

int main(int argc, char** argv) {
    host_start(argc, argv);
    const int status = testquorvex_main(argc, argv);
    if (status == EXIT_INTERRUPTED) host_end_interrupted();
    return status;
}
