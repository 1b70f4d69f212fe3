package tarvo;

import java.math.BigDecimal;
import java.time.LocalDate;
import java.time.LocalTime;
import java.time.format.DateTimeFormatter;
import java.util.Collections;
import java.util.List;
import java.util.Map;

/** The outcome of one command that the printer answered. */
public final class Result {
    public final String command;
    /** 0: carried out; else the printer's error code. */
    public final int code;
    /** The error name, "OK" after success. */
    public final String name;
    public final String circumstance;
    /** The requested names, in their order. */
    public final List<String> names;
    /** Requested name to text ("" when not in the answer); empty after an error. */
    public final Map<String, String> values;

    Result(String command, int code, String name, String circumstance, List<String> names,
            Map<String, String> values) {
        this.command = command;
        this.code = code;
        this.name = name;
        this.circumstance = circumstance;
        this.names = Collections.unmodifiableList(names);
        this.values = Collections.unmodifiableMap(values);
    }

    public boolean ok() {
        return code == 0;
    }

    /** This result when the printer carried the command out; else throws PrinterException. */
    public Result check() {
        if (code != 0) throw new PrinterException(this);
        return this;
    }

    /**
     * The value of a requested name; IllegalArgumentException for a name
     * not requested, and after a printer error (no values are read then).
     */
    public String get(String name) {
        String value = values.get(name);
        if (value == null) {
            throw new IllegalArgumentException(code != 0
                    ? command + " ended with " + code + " " + this.name + ": no values"
                    : name + " was not requested");
        }
        return value;
    }

    public int integer(String name) {
        return Integer.parseInt(get(name).trim());
    }

    /** An amount such as "1.234,50" or "12.50" as a BigDecimal. */
    public BigDecimal decimal(String name) {
        String text = get(name).trim();
        if (text.indexOf(',') >= 0) text = text.replace(".", "").replace(',', '.');
        return new BigDecimal(text);
    }

    public LocalDate date(String name) {
        return LocalDate.parse(get(name), DateTimeFormatter.ofPattern("dd/MM/uuuu"));
    }

    public LocalTime time(String name) {
        return LocalTime.parse(get(name), DateTimeFormatter.ofPattern("HH:mm:ss"));
    }
}
