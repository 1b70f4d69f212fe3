package tarvo;

import com.sun.jna.ptr.IntByReference;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * One session with the printer.
 *
 * <p>{@code new Printer(port)} opens it with IniciaDriver and runs commands
 * through the driver calls; {@code new Printer(port, true)} opens it with
 * FC_Inicializa (which identifies the printer and names the trace files
 * after it) and runs every command through FC_Operacao, which resends it up
 * to twice after a protocol failure (never VendeItem, AbreCreditoDebito and
 * EmiteReducaoZ). Either way the requested values are read by name with
 * Retorno once the printer has answered. The library has one session per
 * process: a second open Printer throws TarvoException(BAD_CHANNEL).
 *
 * <p>Every call holds {@link Tarvo#LOCK} for the whole command, so threads
 * sharing a Printer send whole commands and read their own answers.
 *
 * <p>A command of {@link Codes#STATE_CHANGING_COMMANDS} that gets no valid
 * answer throws {@link OutcomeUnknownException}: the printer may have
 * carried it out. Until the host settles that ({@link #retransmit},
 * {@link #resolveUnknown()}, or another state-changing command answered),
 * running the very same command with the same parameters again is refused
 * before anything is sent, so that a blind repeat can't register it twice.
 */
public final class Printer implements AutoCloseable {
    private static Printer sessionOwner;

    public final String port;
    public final boolean facade;
    /** Per-byte answer time-out for every command, in ms (0: the library's). */
    public final int timeoutMs;
    private int handle = -1;
    // What the driver's retransmission would repeat (the last new command
    // sent), and the command whose outcome is unknown, if any; each is the
    // command name, a NUL and its parameters' key.
    private String lastSent;
    private String unknown;

    public Printer(String port) {
        this(port, false, 0);
    }

    public Printer(String port, boolean facade) {
        this(port, facade, 0);
    }

    /** Opens the session; throws PortException when the port is refused. */
    public Printer(String port, boolean facade, int timeoutMs) {
        this.port = port;
        this.facade = facade;
        this.timeoutMs = timeoutMs;
        byte[] name = Cp1252.encode(port, "port");
        synchronized (Tarvo.LOCK) {
            TarvoLibrary lib = Tarvo.library();
            // Not even tried: a failed FC_Inicializa would overwrite the
            // open facade session's handle, which could then no longer be
            // closed.
            if (sessionOwner != null) {
                throw new TarvoException("a session is already open in this process",
                        Codes.BAD_CHANNEL);
            }
            if (facade) {
                int code = lib.FC_Inicializa(name);
                if (code != Codes.OK) throw PortException.of("FC_Inicializa", port, code);
                handle = Codes.OK_HANDLE;  // the facade's session is the driver's
            } else {
                int h = lib.IniciaDriver(name);
                if (h != Codes.OK_HANDLE) throw PortException.of("IniciaDriver", port, h);
                handle = h;
            }
            sessionOwner = this;
        }
    }

    public boolean isOpen() {
        synchronized (Tarvo.LOCK) {
            return handle != -1;
        }
    }

    /** Ends the session; a second close does nothing. Throws when the library refuses. */
    @Override
    public void close() {
        int code;
        synchronized (Tarvo.LOCK) {
            if (handle == -1) return;
            TarvoLibrary lib = Tarvo.library();
            code = facade ? lib.FC_Finaliza() : lib.EncerraDriver(handle);
            handle = -1;
            sessionOwner = null;
        }
        if (code != Codes.OK) throw new TarvoException("closing the session gave " + code, code);
    }

    public Result run(String command) {
        return run(command, "", new Parameters());
    }

    public Result run(String command, String returns) {
        return run(command, returns, new Parameters());
    }

    /** {@code returns}: the value names, separated by blanks. */
    public Result run(String command, String returns, Parameters parameters) {
        return run(command, names(returns), parameters);
    }

    /**
     * Runs one command and returns its Result.
     *
     * <p>Everything is checked before anything is sent: the command name
     * (letters, digits and '_'), each parameter (see {@link Parameters}), the
     * text they make together (at most MAX_PARAMS characters, else
     * TarvoException(TOO_LONG)) and, for the facade, the record's fields.
     * Throws IllegalArgumentException for a value that can't be sent,
     * ProtocolException when the printer gave no valid answer
     * (OutcomeUnknownException for a state-changing command), and
     * TarvoException when the driver refused the call; a printer error is
     * returned in the Result (see {@link Result#check()}).
     */
    public Result run(String command, List<String> returns, Parameters parameters) {
        Parameters params = parameters == null ? new Parameters() : parameters;
        List<String> wanted = returns == null ? new ArrayList<>() : new ArrayList<>(returns);
        for (String name : wanted) Cp1252.bytes(name, "value name");
        checkCommand(command, facade ? Codes.FC_COMMAND_SIZE - 1 : Codes.MAX_COMMAND);
        if (params.textLength() > Codes.MAX_PARAMS) {
            throw new TarvoException(command + ": the parameters pass " + Codes.MAX_PARAMS
                    + " characters", Codes.TOO_LONG);
        }
        FcCommand record = facade ? record(command, params) : null;
        String key = command + '\0' + params.key();
        synchronized (Tarvo.LOCK) {
            int h = openHandle();
            if (key.equals(unknown)) throw OutcomeUnknownException.refused(command);
            int code = facade ? runFacade(command, record, params.size())
                              : runDriver(h, command, params);
            lastSent = key;
            return outcome(key, code, wanted);
        }
    }

    /**
     * Sends the last command again, with its frame id and parameters
     * (ExecutaComando with an empty name), and returns its Result.
     *
     * <p>The printer takes a request whose id, command and parameters equal
     * those of the last request it received for a repeat: it answers again
     * from memory and does not carry it out a second time; if the first
     * request never reached it, it carries this one out. Either way the
     * command counts once. That holds as long as no other request reached
     * the printer in between and it was not switched off, so call this
     * right after the failure, before any other command: once another
     * command was sent (a reading command to check, say) the retransmission
     * would repeat that one, and while an outcome is unknown this is then
     * refused with IllegalStateException. Throws like {@link #run}.
     */
    public Result retransmit(String returns) {
        List<String> wanted = names(returns);
        synchronized (Tarvo.LOCK) {
            int h = openHandle();
            String key = lastSent;
            if (key == null) {
                throw new IllegalStateException("nothing to retransmit: no command was sent");
            }
            String command = key.substring(0, key.indexOf('\0'));
            if (unknown != null && !unknown.equals(key)) {
                throw new IllegalStateException("a retransmission would repeat " + command
                        + ", not " + unknown.substring(0, unknown.indexOf('\0'))
                        + " whose outcome is unknown: check the printer, then resolveUnknown()");
            }
            TarvoLibrary lib = Tarvo.library();
            int result;
            if (timeoutMs > 0) lib.DefineTimeout(h, timeoutMs);
            try {
                result = lib.ExecutaComando(h, new byte[] {0});
            } finally {
                if (timeoutMs > 0) lib.DefineTimeout(h, 5000);
            }
            return outcome(key, codeOf(h, command, result), wanted);
        }
    }

    public Result retransmit() {
        return retransmit("");
    }

    /**
     * Tells the Printer that the host has checked the printer after an
     * OutcomeUnknownException: the same command may be run again.
     */
    public void resolveUnknown() {
        synchronized (Tarvo.LOCK) {
            unknown = null;
        }
    }

    /** Reads one more value of the last answer by name. */
    public String value(String name) {
        byte[] encoded = Cp1252.encode(name, "value name");
        synchronized (Tarvo.LOCK) {
            int h = openHandle();
            TarvoLibrary lib = Tarvo.library();
            // Retorno gives the last error code in place of a count: only
            // after a carried-out command is its result a count.
            int code = lib.ObtemCodErro(h);
            if (code != Codes.OK) {
                throw new TarvoException("Retorno(" + name + "): the last command ended with "
                        + code, code);
            }
            byte[] buffer = new byte[Codes.VALUE_SIZE];
            int n = lib.Retorno(h, 0, encoded, 0, buffer, 0);
            if (n < 0) throw new TarvoException("Retorno(" + name + ") gave " + n, n);
            return Cp1252.decode(buffer);
        }
    }

    // ---- Inside the lock

    private int openHandle() {
        if (handle == -1) {
            throw new TarvoException("the printer session is not open", Codes.BAD_HANDLE);
        }
        return handle;
    }

    /** The Result of the exchange just made. */
    private Result outcome(String key, int code, List<String> wanted) {
        String command = key.substring(0, key.indexOf('\0'));
        TarvoLibrary lib = Tarvo.library();
        int h = handle;
        byte[] nameBuffer = new byte[Codes.ERROR_NAME_SIZE];
        byte[] circumstanceBuffer = new byte[Codes.CIRCUMSTANCE_SIZE];
        lib.ObtemNomeErro(h, nameBuffer, nameBuffer.length);
        lib.ObtemCircunstancia(h, circumstanceBuffer, circumstanceBuffer.length);
        String name = Cp1252.decode(nameBuffer);
        String circumstance = Cp1252.decode(circumstanceBuffer);
        if (code == Codes.PROTOCOL_FAILURE) {
            if (Codes.changesPrinterState(command)) {
                unknown = key;
                throw new OutcomeUnknownException(command, name, circumstance);
            }
            throw new ProtocolException(command, name, circumstance);
        }
        if (Codes.changesPrinterState(command)) unknown = null;  // answered: known again
        Map<String, String> values = new LinkedHashMap<>();
        if (code == Codes.OK) {
            for (String w : wanted) {
                byte[] buffer = new byte[Codes.VALUE_SIZE];
                int n = lib.Retorno(h, 0, Cp1252.encode(w, "value name"), 0, buffer, 0);
                if (n < 0) throw new TarvoException(command + ": Retorno(" + w + ") gave " + n, n);
                values.put(w, Cp1252.decode(buffer));
            }
        }
        return new Result(command, code, name, circumstance, wanted, values);
    }

    private int runDriver(int h, String command, Parameters params) {
        TarvoLibrary lib = Tarvo.library();
        int result;
        if (timeoutMs > 0) lib.DefineTimeout(h, timeoutMs);
        try {
            refuse(lib.LimpaParams(h), "LimpaParams");
            for (Map.Entry<String, Param> item : params) {
                int added = lib.AdicionaParam(h, Cp1252.encode(item.getKey(), "parameter name"),
                        Cp1252.encode(item.getValue().value, "value"), item.getValue().type);
                if (added != Codes.OK) {
                    lib.LimpaParams(h);
                    refuse(added, command + ": parameter " + item.getKey());
                }
            }
            result = lib.ExecutaComando(h, Cp1252.encode(command, "command"));
        } finally {
            if (timeoutMs > 0) lib.DefineTimeout(h, 5000);
        }
        return codeOf(h, command, result);
    }

    /** The error code after ExecutaComando gave {@code result}. */
    private static int codeOf(int h, String command, int result) {
        if (result == Codes.BUSY) {
            throw new TarvoException(command + ": another command is still running", Codes.BUSY);
        }
        if (result != Codes.ANSWERED && result != Codes.EXCHANGE_FAILED) refuse(result, command);
        int code = Tarvo.library().ObtemCodErro(h);
        // Never let a failed exchange read as success.
        return result == Codes.EXCHANGE_FAILED && code == Codes.OK ? Codes.PROTOCOL_FAILURE : code;
    }

    private static int runFacade(String command, FcCommand record, int count) {
        int code = Tarvo.library().FC_Operacao(count, record, (IntByReference) null, null);
        if (code < 0) refuse(code, command);
        return code;
    }

    private FcCommand record(String command, Parameters params) {
        if (params.size() > Codes.FC_PARAM_COUNT) {
            throw new IllegalArgumentException("at most 17 parameters fit an FcCommand");
        }
        FcCommand record = FcCommand.create(command, "", timeoutMs);
        int i = 0;
        for (Map.Entry<String, Param> item : params) {
            record.setParam(i++, item.getKey(), item.getValue().value, item.getValue().type);
        }
        return record;
    }

    private static void checkCommand(String command, int longest) {
        // An empty name would resend the previous command.
        if (!Parameters.isWord(command)) {
            throw new IllegalArgumentException(
                    "command '" + command + "': letters, digits and '_' only");
        }
        if (command.length() > longest) {
            throw new IllegalArgumentException(
                    "command '" + command + "': at most " + longest + " characters");
        }
    }

    private static List<String> names(String returns) {
        List<String> names = new ArrayList<>();
        for (String name : Arrays.asList((returns == null ? "" : returns).split(" "))) {
            if (!name.isEmpty()) names.add(name);
        }
        return names;
    }

    private static void refuse(int code, String what) {
        if (code >= 0) return;
        String meaning = code == Codes.BAD_HANDLE ? "no open session"
                : code == Codes.TOO_LONG ? "text too long"
                : code == Codes.NULL_ARGUMENT ? "missing argument"
                : code == Codes.REFUSED_BUSY ? "another thread's command is running" : "refused";
        throw new TarvoException(what + ": " + meaning + " (" + code + ")", code);
    }
}
