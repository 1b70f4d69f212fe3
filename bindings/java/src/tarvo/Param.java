package tarvo;

import java.math.BigDecimal;
import java.math.BigInteger;
import java.time.LocalDate;
import java.time.LocalDateTime;
import java.time.LocalTime;
import java.time.format.DateTimeFormatter;

/** A parameter value with its type code, as AdicionaParam takes it. */
public final class Param {
    private static final DateTimeFormatter DATE = DateTimeFormatter.ofPattern("dd/MM/uuuu");
    private static final DateTimeFormatter TIME = DateTimeFormatter.ofPattern("HH:mm:ss");

    public final String value;
    public final int type;

    public Param(String value, int type) {
        if (value == null) throw new IllegalArgumentException("a parameter value can't be null");
        this.value = value;
        this.type = type;
    }

    /** Written bare: Nome=value. Integers as digits, BigDecimal with a decimal comma. */
    public static Param plain(Object value) {
        return new Param(plainText(value), Codes.TYPE_PLAIN);
    }

    /** Written in double quotes: Nome="value". */
    public static Param quoted(String value) {
        return new Param(value, Codes.TYPE_QUOTED);
    }

    /** Written between '#': Nome=#dd/mm/yyyy#. */
    public static Param date(LocalDate date) {
        return new Param(date.format(DATE), Codes.TYPE_DATE);
    }

    /** Written between '#': Nome=#hh:mm:ss# (fractions of a second are dropped). */
    public static Param time(LocalTime time) {
        return new Param(time.format(TIME), Codes.TYPE_TIME);
    }

    /**
     * The form a value takes when none is chosen: a String is quoted; an
     * integer (Integer, Long, Short, Byte, BigInteger) or a BigDecimal bare;
     * a LocalDate a date, a LocalTime a time. double and float are refused
     * (a binary fraction is no amount of money), and so are Boolean and
     * LocalDateTime (no agreed form: pass the date or the time).
     */
    public static Param of(Object value) {
        if (value instanceof Param) return (Param) value;
        if (value instanceof String) return quoted((String) value);
        if (value instanceof LocalDate) return date((LocalDate) value);
        if (value instanceof LocalTime) return time((LocalTime) value);
        if (value instanceof LocalDateTime) {
            throw new IllegalArgumentException(
                    "a LocalDateTime: pass its toLocalDate() or its toLocalTime()");
        }
        return plain(value);
    }

    private static String plainText(Object value) {
        if (value == null) throw new IllegalArgumentException("a parameter value can't be null");
        if (value instanceof Double || value instanceof Float) {
            throw new IllegalArgumentException(
                    "pass amounts as BigDecimal or text, not " + value.getClass().getSimpleName());
        }
        if (value instanceof BigDecimal) return ((BigDecimal) value).toPlainString().replace('.', ',');
        if (value instanceof Integer || value instanceof Long || value instanceof Short
                || value instanceof Byte || value instanceof BigInteger) {
            return value.toString();
        }
        if (value instanceof String) return (String) value;
        throw new IllegalArgumentException("no parameter form for " + value.getClass().getSimpleName());
    }
}
