// Sanitizer defaults of every fuzz target.
//
// Recording the allocating and freeing call stack of every allocation took about half of the
// settings target's time (the XML reader allocates for each node and attribute). A finding is still
// reported at the faulting access with its full stack; run its input again with
// ASAN_OPTIONS=malloc_context_size=30 to see where the memory came from and went. Options given in
// ASAN_OPTIONS override these.

extern "C" const char* __asan_default_options() {
    return "malloc_context_size=0";
}
