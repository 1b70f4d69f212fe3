package tarvo;

import java.util.HashMap;
import java.util.Map;

/**
 * The text fields of one flat JSON object, as {@code tarvo why --json}
 * writes it ({"cause":"missing",...}); other values are skipped. Enough
 * for that one object, so that the binding needs no JSON library.
 */
final class JsonFields {
    private JsonFields() {}

    static Map<String, String> parse(String json) {
        Map<String, String> fields = new HashMap<>();
        int[] at = {json.indexOf('{') + 1};
        if (at[0] == 0) return fields;
        while (at[0] < json.length()) {
            skipBlanks(json, at);
            if (at[0] >= json.length() || json.charAt(at[0]) != '"') break;
            String key = string(json, at);
            skipBlanks(json, at);
            if (key == null || at[0] >= json.length() || json.charAt(at[0]) != ':') break;
            at[0]++;
            skipBlanks(json, at);
            if (at[0] < json.length() && json.charAt(at[0]) == '"') {
                String value = string(json, at);
                if (value == null) break;
                fields.put(key, value);
            } else {
                while (at[0] < json.length() && ",}".indexOf(json.charAt(at[0])) < 0) at[0]++;
            }
            skipBlanks(json, at);
            if (at[0] >= json.length() || json.charAt(at[0]) != ',') break;
            at[0]++;
        }
        return fields;
    }

    private static void skipBlanks(String json, int[] at) {
        while (at[0] < json.length() && Character.isWhitespace(json.charAt(at[0]))) at[0]++;
    }

    /** The string that starts at the quote at at[0]; null when it is cut short. */
    private static String string(String json, int[] at) {
        StringBuilder text = new StringBuilder();
        for (int i = at[0] + 1; i < json.length(); i++) {
            char c = json.charAt(i);
            if (c == '"') {
                at[0] = i + 1;
                return text.toString();
            }
            if (c != '\\') {
                text.append(c);
                continue;
            }
            if (++i >= json.length()) return null;
            char e = json.charAt(i);
            switch (e) {
                case 'n': text.append('\n'); break;
                case 't': text.append('\t'); break;
                case 'r': text.append('\r'); break;
                case 'b': text.append('\b'); break;
                case 'f': text.append('\f'); break;
                case 'u':
                    if (i + 4 >= json.length()) return null;
                    text.append((char) Integer.parseInt(json.substring(i + 1, i + 5), 16));
                    i += 4;
                    break;
                default: text.append(e);
            }
        }
        return null;
    }
}
