package tarvo;

import java.nio.ByteBuffer;
import java.nio.charset.Charset;
import java.util.Arrays;
import java.util.HashMap;
import java.util.Map;

/**
 * Texts as the library takes them: zero-terminated bytes in the Windows ANSI
 * code page, cp1252.
 *
 * <p>Converted here, explicitly, never by the platform's default charset
 * (UTF-8 on Linux, the machine's code page on Windows) nor by JNA's own
 * string marshalling, either of which would send the printer other bytes.
 * The five bytes cp1252 leaves undefined map to the C1 characters of the
 * same number, as Windows maps them, so that no byte of an answer is lost.
 */
public final class Cp1252 {
    private Cp1252() {}

    private static final char[] TO_CHAR = new char[256];
    private static final Map<Character, Byte> TO_BYTE = new HashMap<>();

    static {
        Charset code = Charset.forName("windows-1252");
        for (int b = 0; b < 256; b++) {
            String decoded = code.decode(ByteBuffer.wrap(new byte[] {(byte) b})).toString();
            boolean defined = decoded.length() == 1 && decoded.charAt(0) != '\uFFFD'
                    && !TO_BYTE.containsKey(decoded.charAt(0));
            char c = defined ? decoded.charAt(0) : (char) b;
            TO_CHAR[b] = c;
            TO_BYTE.put(c, (byte) b);
        }
    }

    /**
     * The text's bytes; refuses (IllegalArgumentException) a zero character,
     * where the library would cut the text, and characters cp1252 lacks.
     */
    public static byte[] bytes(String text, String what) {
        if (text == null) throw new IllegalArgumentException(what + ": null");
        byte[] data = new byte[text.length()];
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (c == '\0') throw new IllegalArgumentException(what + ": contains a zero character");
            Byte b = TO_BYTE.get(c);
            if (b == null) {
                throw new IllegalArgumentException(
                        what + ": '" + c + "' has no place in the cp1252 code page");
            }
            data[i] = b;
        }
        return data;
    }

    /** The bytes and the terminating zero, for a text argument. */
    public static byte[] encode(String text, String what) {
        return Arrays.copyOf(bytes(text, what), text.length() + 1);
    }

    /** A record's field of {@code size} bytes: the text, then zeros. */
    public static byte[] field(String text, int size, String what) {
        byte[] data = bytes(text, what);
        if (data.length >= size) {
            throw new IllegalArgumentException(
                    what + ": " + data.length + " bytes, at most " + (size - 1) + " fit");
        }
        return Arrays.copyOf(data, size);
    }

    /** The text before the first zero of a buffer. */
    public static String decode(byte[] buffer) {
        int n = 0;
        while (n < buffer.length && buffer[n] != 0) n++;
        return decode(buffer, n);
    }

    public static String decode(byte[] buffer, int count) {
        StringBuilder text = new StringBuilder(count);
        for (int i = 0; i < count; i++) text.append(TO_CHAR[buffer[i] & 0xFF]);
        return text.toString();
    }
}
