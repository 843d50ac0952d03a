// libjack is not built for ThreadSanitizer: it shares the port table with the
// server and every client through shared memory and synchronises through the
// server, none of which the sanitizer sees. Only its string copies (strncpy,
// memcpy) reach the sanitizer, and those would be reported whenever a test's
// own JACK client changes a port while the services list the graph. Races
// with libjack on the stack are therefore not reported; our own code stays
// checked. libjack keeps its metadata in a Berkeley DB, whose own locks are
// likewise not ours.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libjack.so.0\n"
         "deadlock:libdb-5.3.so\n";
}
