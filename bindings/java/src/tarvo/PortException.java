package tarvo;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.HashMap;
import java.util.Map;
import java.util.concurrent.TimeUnit;

/**
 * The driver refused the port (-11); the message says why, in the words of
 * {@code tarvo why PORT}: the device a COMn name reached and whether the
 * registry file or the default gave it, and the cause (missing, not a
 * terminal, permission denied, held by another process, name too long...).
 *
 * <p>{@link #device}, {@link #mapping} ("given", "registry", "default" or
 * "none"), {@link #cause} (a short key: "missing", "not-a-terminal",
 * "permission", "busy", "name-too-long", "bad-name", ...) and
 * {@link #registry} hold the facts of {@code tarvo why PORT --json}; all
 * empty when no explanation could be had. The tool is TARVO_CLI, else
 * bin/tarvo beside the library's directory, else tarvo on the PATH.
 */
public class PortException extends TarvoException {
    private static final long serialVersionUID = 1L;
    private static final long TOOL_TIMEOUT_S = 10;
    private static final boolean WINDOWS = File.separatorChar == '\\';

    public final String device;
    public final String mapping;
    public final String cause;
    public final String registry;

    PortException(String call, String port, int code, Map<String, String> facts) {
        super(call + "(" + port + ") gave " + code
                + (facts.getOrDefault("explanation", "").isEmpty() ? ""
                        : ": " + facts.get("explanation")), code);
        device = facts.getOrDefault("device", "");
        mapping = facts.getOrDefault("mapping", "");
        cause = facts.getOrDefault("cause", "");
        registry = facts.getOrDefault("registry", "");
    }

    /**
     * Why the driver can't open {@code port}, as {@code tarvo why PORT
     * --json} says it: its text fields by name; empty when the tool is
     * missing or fails.
     */
    public static Map<String, String> explain(String port) {
        String tool = tool();
        if (tool == null) return new HashMap<>();
        File none = new File(WINDOWS ? "NUL" : "/dev/null");
        File out = null;
        try {
            // Into a file, not a pipe: a tool that hangs must not hang the
            // host past the time-out.
            out = File.createTempFile("tarvo-why", ".json");
            Process p = new ProcessBuilder(tool, "why", port, "--json")
                    .redirectInput(ProcessBuilder.Redirect.from(none))
                    .redirectError(ProcessBuilder.Redirect.to(none))
                    .redirectOutput(out).start();
            if (!p.waitFor(TOOL_TIMEOUT_S, TimeUnit.SECONDS)) {
                p.destroyForcibly();
                return new HashMap<>();
            }
            return JsonFields.parse(new String(Files.readAllBytes(out.toPath()), StandardCharsets.UTF_8));
        } catch (IOException | RuntimeException e) {
            return new HashMap<>();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return new HashMap<>();
        } finally {
            if (out != null && !out.delete()) out.deleteOnExit();
        }
    }

    private static String tool() {
        String path = System.getenv("TARVO_CLI");
        if (path != null && !path.isEmpty()) return path;
        String name = WINDOWS ? "tarvo.exe" : "tarvo";
        String library = Tarvo.libraryFile();
        if (library != null) {
            File beside = new File(new File(new File(library).getParentFile(), "../bin"), name);
            if (beside.canExecute()) return beside.getPath();
        }
        String searchPath = System.getenv("PATH");
        if (searchPath == null) return null;
        for (String dir : searchPath.split(File.pathSeparator)) {
            File candidate = new File(dir, name);
            if (candidate.canExecute()) return candidate.getPath();
        }
        return null;
    }

    /** The refusal of IniciaDriver or FC_Inicializa, explained when it is -11. */
    static TarvoException of(String call, String port, int code) {
        // A scan of COM7..COM22 ('U' as the fourth character) has no one port to explain.
        boolean scan = call.equals("FC_Inicializa") && port.length() >= 4
                && Character.toUpperCase(port.charAt(3)) == 'U';
        if (code != Codes.BAD_CHANNEL) return new TarvoException(call + "(" + port + ") gave " + code, code);
        return new PortException(call, port, code, scan ? new HashMap<>() : explain(port));
    }
}
