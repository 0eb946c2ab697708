// A library whose entry points are exported by number only (OrdinalLibrary.def),
// as the camera maker's SDK is reached on Windows.
extern "C" int OrdinalSeven() { return 7; }
extern "C" int OrdinalTwelve() { return 12; }
