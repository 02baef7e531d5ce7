#include "driver/Varnel.h"

int main(int argc, char** argv) { return varnel::RunProgram(argc, argv); }
