package tarvo;

/** The driver refused a call (bad port, wrong handle, text too long...). */
public class TarvoException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    public final int code;

    public TarvoException(String message, int code) {
        super(message);
        this.code = code;
    }
}
