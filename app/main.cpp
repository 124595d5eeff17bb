#include "app/Launcher.h"

int main(int argc, char** argv) {
    return velmar::RunLauncher(argc, argv);
}
