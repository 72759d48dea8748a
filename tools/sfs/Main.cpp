#include "Command.h"

int main(int argc, char** argv) { return sfstool::RunTool(argc, argv); }
