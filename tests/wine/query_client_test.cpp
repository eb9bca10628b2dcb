// The native query client tests, run against Windows Sockets under Wine: the same expectations hold.
#include "unit/query_client_test.cpp"
