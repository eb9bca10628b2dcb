// The native query server tests, run against Windows Sockets under Wine: the same expectations hold.
#include "unit/query_server_test.cpp"
