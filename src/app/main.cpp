#include "app/Config.h"

int main(int argc, char** argv) { return app::ConfigMain(argc, argv); }
