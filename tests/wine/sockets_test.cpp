// The native sockets tests, run against Windows Sockets under Wine: the same expectations hold.
#include "unit/sockets_test.cpp"
