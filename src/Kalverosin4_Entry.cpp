// The program's entry; everything else lives in the library so that tests link it.
#include "Kalverosin4.h"

int main(int, char**) { return run_kalverosin(); }
END_OF_MAIN()
