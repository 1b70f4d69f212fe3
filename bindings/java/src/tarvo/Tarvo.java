package tarvo;

import com.sun.jna.Library;
import com.sun.jna.Native;
import com.sun.jna.Platform;
import com.sun.jna.win32.StdCallFunctionMapper;
import java.util.HashMap;
import java.util.Map;

/**
 * Loads the library once per process and holds the one lock that every
 * sequence of calls into it takes.
 *
 * <p>The library is the file named by the system property
 * {@code tarvo.library} or the environment variable TARVO_LIBRARY, else
 * "tarvo": tarvo.dll on Windows (beside the program, on the DLL search path
 * or on {@code jna.library.path}), libtarvo.so (else libtarvo.so.2) on the
 * library search path elsewhere. A 32-bit JVM needs the 32-bit tarvo.dll, a 64-bit JVM the
 * 64-bit one (x64\ in the Windows release).
 */
public final class Tarvo {
    private Tarvo() {}

    /**
     * Held by every call of {@link Printer} into the library, for a whole
     * command (staging, execution, results). A host that also calls
     * {@link #library()} directly takes it too: the library has one
     * process-wide session and nothing in it keeps two threads' commands
     * apart.
     */
    public static final Object LOCK = new Object();

    private static TarvoLibrary library;

    /** The loaded library, every one of the 25 exports declared. */
    public static TarvoLibrary library() {
        synchronized (LOCK) {
            if (library == null) library = load();
            return library;
        }
    }

    private static TarvoLibrary load() {
        FcCommand.checkLayout();
        String name = libraryName();
        Map<String, Object> options = new HashMap<>();
        if (Platform.isWindows() && !Platform.is64Bit()) {
            // The names are exported undecorated; the mapper tries the
            // decorated _Name@N first and falls back to them.
            options.put(Library.OPTION_FUNCTION_MAPPER, new StdCallFunctionMapper());
            return Native.load(name, TarvoLibrary.StdCall.class, options);
        }
        try {
            return Native.load(name, TarvoLibrary.class, options);
        } catch (UnsatisfiedLinkError e) {
            // Without the development link libtarvo.so only the run-time
            // name of the library's major version is there.
            if (!name.equals("tarvo") || Platform.isWindows() || Platform.isMac()) throw e;
            return Native.load("libtarvo.so.2", TarvoLibrary.class, options);
        }
    }

    private static String libraryName() {
        String name = System.getProperty("tarvo.library");
        if (name == null || name.isEmpty()) name = System.getenv("TARVO_LIBRARY");
        return name == null || name.isEmpty() ? "tarvo" : name;
    }

    /** The path of the loaded library file, or null when it is not known. */
    static String libraryFile() {
        try {
            java.io.File f = com.sun.jna.NativeLibrary.getInstance(libraryName()).getFile();
            return f == null ? null : f.getAbsolutePath();
        } catch (RuntimeException | UnsatisfiedLinkError e) {
            return null;
        }
    }
}
