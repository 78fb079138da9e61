// Entry and dispatch: reads the command line and runs one mode.
#ifndef VRXPR_FRONT_H
#define VRXPR_FRONT_H

[[noreturn]] void QelVRXPR_Main(int argc, char** argv);

#endif
