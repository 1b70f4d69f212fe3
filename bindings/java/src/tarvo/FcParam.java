package tarvo;

import com.sun.jna.Structure;

/** One parameter entry of {@link FcCommand}: 528 bytes, no gaps. */
@Structure.FieldOrder({"name", "value", "type"})
public class FcParam extends Structure {
    public byte[] name = new byte[Codes.FC_NAME_SIZE];
    public byte[] value = new byte[Codes.FC_VALUE_SIZE];
    public int type;

    public FcParam() {
        super(ALIGN_NONE);
    }

    int offsetOf(String field) {
        return fieldOffset(field);
    }
}
