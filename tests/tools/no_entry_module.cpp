// A loadable module that exports no plug-in entry point.
extern "C" int notAnEntryPoint() {
    return 0;
}
