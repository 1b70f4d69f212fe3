package tarvo;

/** Result codes, bounds and parameter type codes of tarvo.h. */
public final class Codes {
    private Codes() {}

    // ---- Result codes
    public static final int OK_HANDLE = 1;
    public static final int ANSWERED = 1;
    public static final int OK = 0;
    public static final int BUSY = 0;
    public static final int EXCHANGE_FAILED = -1;
    public static final int BAD_CHANNEL = -11;
    public static final int BAD_HANDLE = -14;
    public static final int VALUE_UNREADABLE = -15;
    public static final int TOO_LONG = -20;
    public static final int NULL_ARGUMENT = -21;
    /** FC_Operacao while another thread's command runs: refused, nothing sent. */
    public static final int REFUSED_BUSY = -22;
    public static final int PROTOCOL_FAILURE = 11010;

    // ---- Bounds a host must respect
    public static final int ERROR_NAME_SIZE = 101;
    public static final int CIRCUMSTANCE_SIZE = 203;
    public static final int VALUE_SIZE = 4096;
    public static final int FC_TEXT_SIZE = 4096;
    public static final int MAX_COMMAND = 59;
    public static final int MAX_PARAMS = 511;
    public static final int MAX_PORT_NAME = 39;

    // ---- Type codes of AdicionaParam and FcParam.type: 2 and 3 wrap the
    // value in '#', 7 in double quotes, every other code leaves it bare.
    public static final int TYPE_PLAIN = 0;
    public static final int TYPE_DATE = 2;
    public static final int TYPE_TIME = 3;
    public static final int TYPE_QUOTED = 7;

    // ---- The facade's record (sizes and offsets in bytes)
    public static final int FC_NAME_SIZE = 30;
    public static final int FC_VALUE_SIZE = 494;
    public static final int FC_COMMAND_SIZE = 30;
    public static final int FC_RETURN_NAMES_SIZE = 50;
    public static final int FC_PARAM_COUNT = 17;
    public static final int FCPARAM_SIZE = 528;
    public static final int FCPARAM_NAME_OFFSET = 0;
    public static final int FCPARAM_VALUE_OFFSET = 30;
    public static final int FCPARAM_TYPE_OFFSET = 524;
    public static final int FCCOMMAND_SIZE = 9060;
    public static final int FCCOMMAND_COMMAND_OFFSET = 0;
    public static final int FCCOMMAND_RETURNNAMES_OFFSET = 30;
    public static final int FCCOMMAND_TIMEOUTMS_OFFSET = 80;
    public static final int FCCOMMAND_PARAMS_OFFSET = 84;

    /**
     * The commands that change what the printer holds (a receipt opened, an
     * item sold, a payment, a cancellation, printed text, a Z reduction): the
     * library's own list, which a test compares with this copy. A protocol
     * failure of one of them is an {@link OutcomeUnknownException}.
     */
    public static final java.util.List<String> STATE_CHANGING_COMMANDS =
            java.util.Collections.unmodifiableList(java.util.Arrays.asList(
                    "AbreCupom", "VendeItem", "PagaCupom", "EncerraCupom", "CancelaCupom",
                    "AbreCreditoDebito", "ImprimeTexto", "EncerraCreditoDebito", "EmiteReducaoZ"));

    /** Whether the command, spelt exactly, is in {@link #STATE_CHANGING_COMMANDS}. */
    public static boolean changesPrinterState(String command) {
        return STATE_CHANGING_COMMANDS.contains(command);
    }
}
