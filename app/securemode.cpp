#include "securemode.h"

#include <cstdlib>
#include <sys/auxv.h>

void DropLoadPathsInSecureMode()
{
    if (::getauxval(AT_SECURE) == 0)
        return;
    // Names that choose among installed plugins (QT_QPA_PLATFORM, QT_IM_MODULE) stay: a
    // Japanese user's input method is chosen that way.
    static const char *const loadPaths[] = {
        "QT_PLUGIN_PATH",
        "QT_QPA_PLATFORM_PLUGIN_PATH",
        "GTK_PATH",
        "GTK_MODULES",
        "GTK3_MODULES",
        "GTK_EXE_PREFIX",
        "GTK_IM_MODULE_FILE",
        "GIO_EXTRA_MODULES",
        "GIO_MODULE_DIR",
        "GDK_PIXBUF_MODULEDIR",
        "GDK_PIXBUF_MODULE_FILE",
        "LIBGL_DRIVERS_PATH",
        "__EGL_VENDOR_LIBRARY_DIRS",
        "__EGL_VENDOR_LIBRARY_FILENAMES",
        "GBM_BACKENDS_PATH",
        "VK_ICD_FILENAMES",
        "VK_LAYER_PATH",
        "VK_ADD_LAYER_PATH",
    };
    for (const char *name : loadPaths)
        ::unsetenv(name);
}
