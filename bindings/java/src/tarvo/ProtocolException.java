package tarvo;

/** No valid answer from the printer (code 11010, "ErroProtTimeout"). */
public class ProtocolException extends TarvoException {
    private static final long serialVersionUID = 1L;

    public final String command;
    public final String name;
    public final String circumstance;

    public ProtocolException(String command, String name, String circumstance) {
        this(command + ": protocol failure " + Codes.PROTOCOL_FAILURE + " " + name + ": "
                + circumstance, command, name, circumstance);
    }

    protected ProtocolException(String message, String command, String name, String circumstance) {
        super(message, Codes.PROTOCOL_FAILURE);
        this.command = command;
        this.name = name;
        this.circumstance = circumstance;
    }
}
