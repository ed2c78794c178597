// libvestrel.so: the sibling library whose presence start-up checks by
// loading it. The wizard calls nothing of it; the version function lets a
// check tell this library from a stray file of the same name.
extern "C" __attribute__((visibility("default"))) const char* vestrel_version() { return "12.0"; }
