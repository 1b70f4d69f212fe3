package tarvo;

import java.util.AbstractMap;
import java.util.ArrayList;
import java.util.Collections;
import java.util.Iterator;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;

/**
 * The parameters of one command, in order:
 * {@code new Parameters().add("Descricao", "Café").add("PrecoUnitario", new BigDecimal("3.25"))}.
 * Each is checked as it is added (IllegalArgumentException), so a value
 * that would break the request frame never reaches the library.
 */
public final class Parameters implements Iterable<Map.Entry<String, Param>> {
    private static final Pattern WORD = Pattern.compile("[A-Za-z0-9_]+");

    private final List<Map.Entry<String, Param>> items = new ArrayList<>();

    /** Adds a value in the form {@link Param#of} gives it. */
    public Parameters add(String name, Object value) {
        Param param = Param.of(value);
        check(name, param);
        items.add(new AbstractMap.SimpleImmutableEntry<>(name, param));
        return this;
    }

    /** Adds a value with an explicit type code. */
    public Parameters add(String name, String value, int type) {
        return add(name, new Param(value, type));
    }

    public int size() {
        return items.size();
    }

    @Override
    public Iterator<Map.Entry<String, Param>> iterator() {
        return Collections.unmodifiableList(items).iterator();
    }

    /** Length of the parameter text AdicionaParam would build from these. */
    int textLength() {
        int length = 0;
        for (Map.Entry<String, Param> item : items) {
            int type = item.getValue().type;
            boolean wrapped = type == Codes.TYPE_DATE || type == Codes.TYPE_TIME
                    || type == Codes.TYPE_QUOTED;
            length += (length > 0 ? 1 : 0) + item.getKey().length() + 1
                    + item.getValue().value.length() + (wrapped ? 2 : 0);
        }
        return length;
    }

    /** What this list would send, for comparing two commands. */
    String key() {
        StringBuilder text = new StringBuilder();
        for (Map.Entry<String, Param> item : items) {
            text.append(item.getKey()).append('\0').append(item.getValue().type).append('\0')
                    .append(item.getValue().value).append('\0');
        }
        return text.toString();
    }

    static boolean isWord(String text) {
        return text != null && WORD.matcher(text).matches();
    }

    /**
     * Refuses what would change the structure of the parameter text. The
     * printer's language escapes nothing, so a quote inside a quoted value,
     * a '#' inside a date or time, or a blank inside a bare value (or a
     * quote opening it) would end the value early and let the rest be read
     * as further parameters. The library's own rules are the same; both are
     * tested against one file of shared cases.
     */
    static void check(String name, Param param) {
        if (!isWord(name)) {
            throw new IllegalArgumentException(
                    "parameter name '" + name + "': letters, digits and '_' only");
        }
        byte[] value = Cp1252.bytes(param.value, "value of " + name);
        boolean bare = param.type != Codes.TYPE_DATE && param.type != Codes.TYPE_TIME
                && param.type != Codes.TYPE_QUOTED;
        char forbidden = bare ? ' ' : param.type == Codes.TYPE_QUOTED ? '"' : '#';
        for (byte b : value) {
            if (b == forbidden) {
                throw new IllegalArgumentException("value of " + name + ": '" + forbidden
                        + "' can't stand in a value of type " + param.type);
            }
        }
        if (bare && value.length > 0 && value[0] == '"') {
            throw new IllegalArgumentException(
                    "value of " + name + ": a bare value can't open with '\"'");
        }
    }
}
