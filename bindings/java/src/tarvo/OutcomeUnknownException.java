package tarvo;

import java.util.Arrays;
import java.util.List;

/**
 * A command that changes the printer's state got no valid answer: the
 * printer may have carried it out.
 *
 * <p>The rule, the same in every binding: any protocol failure (11010) of a
 * command in {@link Codes#STATE_CHANGING_COMMANDS}, whatever its
 * circumstance. "Erro de Recepcao" (no answer) and "Erro de Secao ou CRC"
 * (a damaged answer) come only after the request was written whole;
 * "Sem sinal de CTS" comes before the request is written and also after it
 * (CTS lost while the answer is awaited, as when the printer drops it while
 * it prints), and "Erro de Transmissao" may follow a write that got part or
 * all of the frame out. So none of them proves that nothing reached the
 * printer; {@link #requestSent} says whether the circumstance proves that
 * the request went out whole.
 *
 * <p>Do not simply run the command again: that can register a sale twice.
 * Repeat it with {@link Printer#retransmit}, which the printer does not carry
 * out twice, or check the printer first (a reading command, or the receipt)
 * and then call {@link Printer#resolveUnknown()}.
 */
public class OutcomeUnknownException extends ProtocolException {
    private static final long serialVersionUID = 1L;

    private static final List<String> SENT_WHOLE =
            Arrays.asList("Erro de Recepcao", "Erro de Secao ou CRC");
    private static final String ADVICE = "; the printer may have carried it out: check the printer"
            + " (a reading command, or the receipt) before repeating it, or repeat it with"
            + " retransmit(), which the printer does not carry out twice";

    /** True when the circumstance proves that the request went out whole. */
    public final boolean requestSent;

    public OutcomeUnknownException(String command, String name, String circumstance) {
        super(command + ": outcome unknown after protocol failure " + Codes.PROTOCOL_FAILURE + " "
                + name + ": " + circumstance + ADVICE, command, name, circumstance);
        requestSent = SENT_WHOLE.contains(circumstance);
    }

    /** The same command again while its outcome is unknown: refused, nothing sent. */
    static OutcomeUnknownException refused(String command) {
        return new OutcomeUnknownException(command);
    }

    private OutcomeUnknownException(String command) {
        super(command + ": not sent again, the outcome of the same command is still unknown"
                + ADVICE, command, "", "");
        requestSent = false;
    }
}
