package tarvo;

/** The printer answered and refused the command ({@link Result#check()}). */
public class PrinterException extends TarvoException {
    private static final long serialVersionUID = 1L;

    public final transient Result result;
    public final String name;
    public final String circumstance;

    public PrinterException(Result result) {
        super(result.command + ": printer error " + result.code + " " + result.name + ": "
                + result.circumstance, result.code);
        this.result = result;
        this.name = result.name;
        this.circumstance = result.circumstance;
    }
}
