#include "app/WexmidiProgram.h"

int main(int argc, char** argv) { return wex::WexmidiProgram().run(argc, argv); }
