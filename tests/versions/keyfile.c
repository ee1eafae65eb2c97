/* A key file for the version tests: a DLL that carries only its version resource. */
int ZolKeyFileMarker(void) { return 1; }
