package tarvo;

import com.sun.jna.Library;
import com.sun.jna.ptr.IntByReference;
import com.sun.jna.win32.StdCallLibrary;

/**
 * Every export of the library under its exact entry name: the eleven driver
 * calls, each also with the prefix TARVO_, and the three facade calls.
 *
 * <p>Texts are zero-terminated cp1252 byte arrays ({@link Cp1252#encode}),
 * never Java strings, so that JNA's own charset conversion never runs.
 * Output buffers are byte arrays of the sizes given in {@link Codes}; JNA
 * copies them back after the call. Get an instance from
 * {@link Tarvo#library()}, and hold {@link Tarvo#LOCK} around every sequence
 * of calls: the library keeps one process-wide session.
 */
public interface TarvoLibrary extends Library {
    // ---- Driver calls
    int IniciaDriver(byte[] PortaSerial);
    int EncerraDriver(int Handle);
    void DefineTimeout(int Handle, int iTimeout);
    int DoMessage();
    int LimpaParams(int Handle);
    int AdicionaParam(int Handle, byte[] Nome, byte[] Valor, int Tipo);
    int ExecutaComando(int Handle, byte[] Comando);
    int ObtemCodErro(int Handle);
    int ObtemNomeErro(int Handle, byte[] Saida, int Tamanho);
    int ObtemCircunstancia(int Handle, byte[] Saida, int Tamanho);
    int Retorno(int Handle, int Reservado1, byte[] Nome, int Reservado2, byte[] Saida,
            int Reservado3);

    // ---- The same calls under their TARVO_ names
    int TARVO_IniciaDriver(byte[] PortaSerial);
    int TARVO_EncerraDriver(int Handle);
    void TARVO_DefineTimeout(int Handle, int iTimeout);
    int TARVO_DoMessage();
    int TARVO_LimpaParams(int Handle);
    int TARVO_AdicionaParam(int Handle, byte[] Nome, byte[] Valor, int Tipo);
    int TARVO_ExecutaComando(int Handle, byte[] Comando);
    int TARVO_ObtemCodErro(int Handle);
    int TARVO_ObtemNomeErro(int Handle, byte[] Saida, int Tamanho);
    int TARVO_ObtemCircunstancia(int Handle, byte[] Saida, int Tamanho);
    int TARVO_Retorno(int Handle, int Reservado1, byte[] Nome, int Reservado2, byte[] Saida,
            int Reservado3);

    // ---- Fiscal facade
    /**
     * outText must hold FC_TEXT_SIZE bytes; pass null for outLen and outText
     * when no values are wanted. The record goes in and comes back (the
     * library clears command, returnNames and timeoutMs).
     */
    int FC_Operacao(int numParam, FcCommand Cmd, IntByReference outLen, byte[] outText);
    int FC_Inicializa(byte[] Porta);
    int FC_Finaliza();

    /**
     * The same calls with the 32-bit Windows convention: the library's
     * exports are __stdcall there (the callee removes the arguments). JNA
     * uses the convention of an interface that extends StdCallLibrary; a
     * 64-bit process has only one convention and loads the plain interface.
     */
    interface StdCall extends TarvoLibrary, StdCallLibrary {}
}
