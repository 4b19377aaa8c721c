// A loadable library that registers no extension.
extern "C" __attribute__((visibility("default"))) int corvaneEmptyPluginMarker()
{
    return 0;
}
