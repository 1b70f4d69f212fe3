package tarvo;

import com.sun.jna.Structure;

/**
 * One facade operation, the record FC_Operacao takes: 9060 bytes, no gaps
 * (binary interface). Packed (ALIGN_NONE) so that no platform's alignment
 * rule can move a field; {@link #checkLayout()} compares every size and
 * offset with tarvo.h's and runs before the first call into the library.
 *
 * <p>The library clears {@code command}, {@code returnNames} and
 * {@code timeoutMs} after each operation; JNA reads them back into this
 * object when the call returns.
 */
@Structure.FieldOrder({"command", "returnNames", "timeoutMs", "params"})
public class FcCommand extends Structure {
    public byte[] command = new byte[Codes.FC_COMMAND_SIZE];
    public byte[] returnNames = new byte[Codes.FC_RETURN_NAMES_SIZE];
    public int timeoutMs;
    public FcParam[] params = new FcParam[Codes.FC_PARAM_COUNT];

    public FcCommand() {
        super(ALIGN_NONE);
        for (int i = 0; i < params.length; i++) params[i] = new FcParam();
    }

    /**
     * A record with the command, the value names (separated by single
     * blanks) and the per-byte time-out; a text that does not fit its field
     * throws IllegalArgumentException (nothing is cut short).
     */
    public static FcCommand create(String command, String returnNames, int timeoutMs) {
        FcCommand cmd = new FcCommand();
        cmd.command = Cp1252.field(command, Codes.FC_COMMAND_SIZE, "command");
        cmd.returnNames = Cp1252.field(returnNames == null ? "" : returnNames,
                Codes.FC_RETURN_NAMES_SIZE, "returnNames");
        cmd.timeoutMs = timeoutMs;
        return cmd;
    }

    /** Fills entry {@code index} (0 to 16). */
    public void setParam(int index, String name, String value, int type) {
        if (index < 0 || index >= Codes.FC_PARAM_COUNT) {
            throw new IndexOutOfBoundsException("an FcCommand holds 17 parameters");
        }
        params[index].name = Cp1252.field(name, Codes.FC_NAME_SIZE, "parameter name");
        params[index].value = Cp1252.field(value, Codes.FC_VALUE_SIZE, "value of " + name);
        params[index].type = type;
    }

    /**
     * Throws IllegalStateException naming the first size or offset that
     * differs from tarvo.h.
     */
    public static void checkLayout() {
        FcParam p = new FcParam();
        expect("FcParam", p.size(), Codes.FCPARAM_SIZE);
        expect("FcParam.name", p.offsetOf("name"), Codes.FCPARAM_NAME_OFFSET);
        expect("FcParam.value", p.offsetOf("value"), Codes.FCPARAM_VALUE_OFFSET);
        expect("FcParam.type", p.offsetOf("type"), Codes.FCPARAM_TYPE_OFFSET);
        FcCommand c = new FcCommand();
        expect("FcCommand", c.size(), Codes.FCCOMMAND_SIZE);
        expect("FcCommand.command", c.fieldOffset("command"), Codes.FCCOMMAND_COMMAND_OFFSET);
        expect("FcCommand.returnNames", c.fieldOffset("returnNames"),
                Codes.FCCOMMAND_RETURNNAMES_OFFSET);
        expect("FcCommand.timeoutMs", c.fieldOffset("timeoutMs"), Codes.FCCOMMAND_TIMEOUTMS_OFFSET);
        expect("FcCommand.params", c.fieldOffset("params"), Codes.FCCOMMAND_PARAMS_OFFSET);
    }

    private static void expect(String what, int got, int want) {
        if (got != want) {
            throw new IllegalStateException("tarvo: " + what
                    + (what.contains(".") ? " is at " : " has ") + got
                    + (what.contains(".") ? "" : " bytes") + ", the library expects " + want);
        }
    }
}
