// A library that loads but has no GetNewSock.
extern "C" int SomethingElse() { return 1; }
