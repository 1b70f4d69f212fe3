// Tarvo.cs - C# binding of TARVO, the fiscal printer (ECF) communications
// driver, for .NET on Windows and Mono elsewhere. One source file, no
// dependency beyond the base class library; compile it into the host.
//
// Two layers:
//
//  * Native: every exported call under its own entry name, with the text
//    arguments as zero-terminated cp1252 byte arrays (Cp1252.Encode and
//    Cp1252.Decode convert), and the FcCommand record of the facade.
//
//  * Printer: one session (IDisposable). Run(command, returns, parameters)
//    stages typed parameters, runs the command through the driver calls or
//    through FC_Operacao, and returns a Result (code, error name,
//    circumstance and the requested values). A protocol failure (no valid
//    answer, code 11010) throws ProtocolException, or OutcomeUnknownException
//    for a command that changes the printer's state (Printer.Retransmit
//    repeats it safely); Result.Check() throws PrinterException for the
//    printer's own error codes.
//
// The library is found by the name "tarvo": tarvo.dll on Windows (beside the
// program or on the DLL search path), libtarvo.so on the library search path
// elsewhere. A 32-bit process needs the 32-bit tarvo.dll, a 64-bit process
// the 64-bit one (see the README of the Windows release).
//
// The library keeps one process-wide session and is not thread-safe: every
// call that Printer makes holds Printer.SyncRoot, so threads sharing a
// Printer send whole commands, never interleaved ones. A host that also
// calls Native directly takes the same lock.

using System;
using System.Collections;
using System.Collections.Generic;
using System.Globalization;
using System.Runtime.InteropServices;
using System.Text;
using System.Text.RegularExpressions;

namespace Tarvo
{
    /// <summary>Result codes, bounds and parameter type codes of tarvo.h.</summary>
    public static class Codes
    {
        // ---- Result codes
        public const int OK_HANDLE = 1;
        public const int ANSWERED = 1;
        public const int OK = 0;
        public const int BUSY = 0;
        public const int EXCHANGE_FAILED = -1;
        public const int BAD_CHANNEL = -11;
        public const int BAD_HANDLE = -14;
        public const int VALUE_UNREADABLE = -15;
        public const int TOO_LONG = -20;
        public const int NULL_ARGUMENT = -21;
        // FC_Operacao while another thread's command runs: refused, nothing sent.
        public const int REFUSED_BUSY = -22;
        public const int PROTOCOL_FAILURE = 11010;

        // ---- Bounds a host must respect
        public const int ERROR_NAME_SIZE = 101;
        public const int CIRCUMSTANCE_SIZE = 203;
        public const int VALUE_SIZE = 4096;
        public const int FC_TEXT_SIZE = 4096;
        public const int MAX_COMMAND = 59;
        public const int MAX_PARAMS = 511;
        public const int MAX_PORT_NAME = 39;

        // ---- Type codes of AdicionaParam and FcParam.type: 2 and 3 wrap the
        // value in '#', 7 in double quotes, every other code leaves it bare.
        public const int TYPE_PLAIN = 0;
        public const int TYPE_DATE = 2;
        public const int TYPE_TIME = 3;
        public const int TYPE_QUOTED = 7;

        // ---- The facade's record (sizes and offsets in bytes)
        public const int FC_NAME_SIZE = 30;
        public const int FC_VALUE_SIZE = 494;
        public const int FC_COMMAND_SIZE = 30;
        public const int FC_RETURN_NAMES_SIZE = 50;
        public const int FC_PARAM_COUNT = 17;
        public const int FCPARAM_SIZE = 528;
        public const int FCPARAM_NAME_OFFSET = 0;
        public const int FCPARAM_VALUE_OFFSET = 30;
        public const int FCPARAM_TYPE_OFFSET = 524;
        public const int FCCOMMAND_SIZE = 9060;
        public const int FCCOMMAND_COMMAND_OFFSET = 0;
        public const int FCCOMMAND_RETURNNAMES_OFFSET = 30;
        public const int FCCOMMAND_TIMEOUTMS_OFFSET = 80;
        public const int FCCOMMAND_PARAMS_OFFSET = 84;

        /// <summary>The commands that change what the printer holds (a receipt
        /// opened, an item sold, a payment, a cancellation, printed text, a Z
        /// reduction): the library's own list, which a test compares with this
        /// copy. A protocol failure of one of them is an
        /// OutcomeUnknownException.</summary>
        public static readonly IList<string> StateChangingCommands = Array.AsReadOnly(new[] {
            "AbreCupom", "VendeItem", "PagaCupom", "EncerraCupom", "CancelaCupom",
            "AbreCreditoDebito", "ImprimeTexto", "EncerraCreditoDebito", "EmiteReducaoZ"
        });

        /// <summary>Whether the command, spelt exactly, is in StateChangingCommands.</summary>
        public static bool ChangesPrinterState(string command)
        {
            return StateChangingCommands.Contains(command);
        }
    }

    /// <summary>One parameter entry of FcCommand: 528 bytes, no gaps.</summary>
    // Sequential and packed; the arrays are marshalled in place with their
    // fixed lengths, so the marshalled record is the C one byte for byte.
    [StructLayout(LayoutKind.Sequential, Pack = 1)]
    public struct FcParam
    {
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = Codes.FC_NAME_SIZE)]
        public byte[] name;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = Codes.FC_VALUE_SIZE)]
        public byte[] value;
        public int type;
    }

    /// <summary>One facade operation: 9060 bytes, no gaps (binary interface).
    /// Make one with FcCommand.Create, which sizes every array.</summary>
    [StructLayout(LayoutKind.Sequential, Pack = 1)]
    public struct FcCommand
    {
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = Codes.FC_COMMAND_SIZE)]
        public byte[] command;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = Codes.FC_RETURN_NAMES_SIZE)]
        public byte[] returnNames;
        public int timeoutMs;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = Codes.FC_PARAM_COUNT)]
        public FcParam[] @params;

        /// <summary>A record with the command, the value names (separated by
        /// single blanks) and the per-byte time-out; a text that does not fit
        /// its field throws ArgumentException (nothing is cut short).</summary>
        public static FcCommand Create(string command, string returnNames = "", int timeoutMs = 0)
        {
            var cmd = new FcCommand {
                command = Cp1252.Field(command, Codes.FC_COMMAND_SIZE, "command"),
                returnNames = Cp1252.Field(returnNames ?? "", Codes.FC_RETURN_NAMES_SIZE, "returnNames"),
                timeoutMs = timeoutMs,
                @params = new FcParam[Codes.FC_PARAM_COUNT],
            };
            for (int i = 0; i < cmd.@params.Length; i++) {
                cmd.@params[i].name = new byte[Codes.FC_NAME_SIZE];
                cmd.@params[i].value = new byte[Codes.FC_VALUE_SIZE];
            }
            return cmd;
        }

        /// <summary>Fills entry <paramref name="index"/>.</summary>
        public void SetParam(int index, string name, string value, int type)
        {
            if (index < 0 || index >= Codes.FC_PARAM_COUNT)
                throw new ArgumentOutOfRangeException("index", "an FcCommand holds 17 parameters");
            @params[index].name = Cp1252.Field(name, Codes.FC_NAME_SIZE, "parameter name");
            @params[index].value = Cp1252.Field(value, Codes.FC_VALUE_SIZE, "value of " + name);
            @params[index].type = type;
        }
    }

    /// <summary>The marshalled records checked against the C layout.</summary>
    public static class Layout
    {
        /// <summary>Throws InvalidOperationException naming the first size or
        /// offset that differs from tarvo.h. Runs once before the first
        /// call into the library.</summary>
        public static void Check()
        {
            Expect("FcParam", Marshal.SizeOf(typeof(FcParam)), Codes.FCPARAM_SIZE);
            Expect("FcParam.name", Offset(typeof(FcParam), "name"), Codes.FCPARAM_NAME_OFFSET);
            Expect("FcParam.value", Offset(typeof(FcParam), "value"), Codes.FCPARAM_VALUE_OFFSET);
            Expect("FcParam.type", Offset(typeof(FcParam), "type"), Codes.FCPARAM_TYPE_OFFSET);
            Expect("FcCommand", Marshal.SizeOf(typeof(FcCommand)), Codes.FCCOMMAND_SIZE);
            Expect("FcCommand.command", Offset(typeof(FcCommand), "command"),
                   Codes.FCCOMMAND_COMMAND_OFFSET);
            Expect("FcCommand.returnNames", Offset(typeof(FcCommand), "returnNames"),
                   Codes.FCCOMMAND_RETURNNAMES_OFFSET);
            Expect("FcCommand.timeoutMs", Offset(typeof(FcCommand), "timeoutMs"),
                   Codes.FCCOMMAND_TIMEOUTMS_OFFSET);
            Expect("FcCommand.params", Offset(typeof(FcCommand), "params"),
                   Codes.FCCOMMAND_PARAMS_OFFSET);
        }

        static int Offset(Type record, string field)
        {
            return Marshal.OffsetOf(record, field).ToInt32();
        }

        static void Expect(string what, int got, int want)
        {
            if (got != want)
                throw new InvalidOperationException(string.Format(
                    what.Contains(".") ? "tarvo: {0} is at {1}, the library expects {2}"
                                       : "tarvo: {0} has {1} bytes, the library expects {2}", what, got, want));
        }
    }

    /// <summary>Texts as the library takes them: zero-terminated cp1252.</summary>
    // Converted here, explicitly, and not by the marshaller: its "ANSI" is
    // the machine's code page on Windows and UTF-8 under Mono, and either
    // would send the printer other bytes. The five bytes cp1252 leaves
    // undefined map to the C1 characters of the same number, as Windows maps
    // them, so that no byte of an answer is lost or replaced.
    public static class Cp1252
    {
        static readonly char[] toChar = new char[256];
        static readonly Dictionary<char, byte> toByte = new Dictionary<char, byte>();

        static Cp1252()
        {
            Encoding code = Windows1252();
            for (int b = 0; b < 256; b++) {
                char c;
                // An undefined byte may decode to U+FFFD, to '?' or to nothing.
                string decoded = code.GetString(new[] { (byte)b });
                bool defined = decoded.Length == 1 && decoded[0] != '\uFFFD' && !toByte.ContainsKey(decoded[0]);
                c = defined ? decoded[0] : (char)b;
                toChar[b] = c;
                toByte[c] = (byte)b;
            }
        }

        // .NET Framework and Mono (with its I18N.West assembly) have the
        // code page built in; .NET Core and .NET 5 and later only through
        // the code-pages provider, registered here so that a host need not.
        static Encoding Windows1252()
        {
            try {
                return Encoding.GetEncoding(1252);
            } catch (Exception e) when (e is NotSupportedException || e is ArgumentException) {
                Type provider = Type.GetType("System.Text.CodePagesEncodingProvider, System.Text.Encoding.CodePages");
                if (provider == null) throw;
                Encoding.RegisterProvider((EncodingProvider)provider.GetProperty("Instance").GetValue(null, null));
                return Encoding.GetEncoding(1252);
            }
        }

        /// <summary>The text's bytes; refuses a zero character (the library
        /// would cut the text there) and characters cp1252 lacks.</summary>
        public static byte[] Bytes(string text, string what)
        {
            if (text == null) throw new ArgumentNullException(what);
            var data = new byte[text.Length];
            for (int i = 0; i < text.Length; i++) {
                byte b;
                if (text[i] == '\0')
                    throw new ArgumentException(what + ": contains a zero character");
                if (!toByte.TryGetValue(text[i], out b))
                    throw new ArgumentException(string.Format(
                        "{0}: '{1}' has no place in the cp1252 code page", what, text[i]));
                data[i] = b;
            }
            return data;
        }

        /// <summary>Bytes and the terminating zero, for a text argument.</summary>
        public static byte[] Encode(string text, string what)
        {
            byte[] data = Bytes(text, what);
            Array.Resize(ref data, data.Length + 1);
            return data;
        }

        /// <summary>A record's field of <paramref name="size"/> bytes: the
        /// text, then zeros; at most size - 1 characters fit.</summary>
        public static byte[] Field(string text, int size, string what)
        {
            byte[] data = Bytes(text, what);
            if (data.Length >= size)
                throw new ArgumentException(string.Format(
                    "{0}: {1} bytes, at most {2} fit", what, data.Length, size - 1));
            Array.Resize(ref data, size);
            return data;
        }

        /// <summary>The text before the first zero of a buffer.</summary>
        public static string Decode(byte[] buffer)
        {
            int n = Array.IndexOf(buffer, (byte)0);
            return Decode(buffer, n < 0 ? buffer.Length : n);
        }

        public static string Decode(byte[] buffer, int count)
        {
            var text = new StringBuilder(count);
            for (int i = 0; i < count; i++) text.Append(toChar[buffer[i]]);
            return text.ToString();
        }
    }

    /// <summary>Every export of the library under its exact entry name.</summary>
    // CallingConvention.Winapi is the platform's default convention for its
    // system calls: __stdcall in a 32-bit Windows process (the library's
    // exports are __stdcall there, the callee removing the arguments), the
    // one C convention of a 64-bit Windows process, and the C convention
    // (cdecl) on Linux and the other systems, where the library is built
    // without __stdcall. Naming StdCall instead would be wrong on Linux
    // i386; naming Cdecl would unbalance the stack of a 32-bit Windows host.
    // ExactSpelling: the names are looked up as written, never with an A or
    // W suffix. Texts are byte arrays in cp1252 (see Cp1252), so the
    // marshaller's own ANSI conversion never runs. Output buffers must hold
    // the sizes given in Codes; they are passed pinned, so the library writes
    // into them directly.
    public static class Native
    {
        public const string Library = "tarvo";
        const CallingConvention Convention = CallingConvention.Winapi;

        static Native()
        {
            Layout.Check();
        }

        // ---- Driver calls
        [DllImport(Library, EntryPoint = "IniciaDriver", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int IniciaDriver(byte[] PortaSerial);
        [DllImport(Library, EntryPoint = "EncerraDriver", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int EncerraDriver(int Handle);
        [DllImport(Library, EntryPoint = "DefineTimeout", CallingConvention = Convention, ExactSpelling = true)]
        public static extern void DefineTimeout(int Handle, int iTimeout);
        [DllImport(Library, EntryPoint = "DoMessage", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int DoMessage();
        [DllImport(Library, EntryPoint = "LimpaParams", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int LimpaParams(int Handle);
        [DllImport(Library, EntryPoint = "AdicionaParam", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int AdicionaParam(int Handle, byte[] Nome, byte[] Valor, int Tipo);
        [DllImport(Library, EntryPoint = "ExecutaComando", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int ExecutaComando(int Handle, byte[] Comando);
        [DllImport(Library, EntryPoint = "ObtemCodErro", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int ObtemCodErro(int Handle);
        [DllImport(Library, EntryPoint = "ObtemNomeErro", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int ObtemNomeErro(int Handle, [Out] byte[] Saida, int Tamanho);
        [DllImport(Library, EntryPoint = "ObtemCircunstancia", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int ObtemCircunstancia(int Handle, [Out] byte[] Saida, int Tamanho);
        [DllImport(Library, EntryPoint = "Retorno", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int Retorno(int Handle, int Reservado1, byte[] Nome, int Reservado2,
                                         [Out] byte[] Saida, int Reservado3);

        // ---- The same calls under their TARVO_ names
        [DllImport(Library, EntryPoint = "TARVO_IniciaDriver", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int TARVO_IniciaDriver(byte[] PortaSerial);
        [DllImport(Library, EntryPoint = "TARVO_EncerraDriver", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int TARVO_EncerraDriver(int Handle);
        [DllImport(Library, EntryPoint = "TARVO_DefineTimeout", CallingConvention = Convention, ExactSpelling = true)]
        public static extern void TARVO_DefineTimeout(int Handle, int iTimeout);
        [DllImport(Library, EntryPoint = "TARVO_DoMessage", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int TARVO_DoMessage();
        [DllImport(Library, EntryPoint = "TARVO_LimpaParams", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int TARVO_LimpaParams(int Handle);
        [DllImport(Library, EntryPoint = "TARVO_AdicionaParam", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int TARVO_AdicionaParam(int Handle, byte[] Nome, byte[] Valor, int Tipo);
        [DllImport(Library, EntryPoint = "TARVO_ExecutaComando", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int TARVO_ExecutaComando(int Handle, byte[] Comando);
        [DllImport(Library, EntryPoint = "TARVO_ObtemCodErro", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int TARVO_ObtemCodErro(int Handle);
        [DllImport(Library, EntryPoint = "TARVO_ObtemNomeErro", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int TARVO_ObtemNomeErro(int Handle, [Out] byte[] Saida, int Tamanho);
        [DllImport(Library, EntryPoint = "TARVO_ObtemCircunstancia", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int TARVO_ObtemCircunstancia(int Handle, [Out] byte[] Saida, int Tamanho);
        [DllImport(Library, EntryPoint = "TARVO_Retorno", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int TARVO_Retorno(int Handle, int Reservado1, byte[] Nome, int Reservado2,
                                               [Out] byte[] Saida, int Reservado3);

        // ---- Fiscal facade
        /// <summary>outText must hold FC_TEXT_SIZE bytes. The record goes in
        /// and comes back (the library clears command, returnNames and
        /// timeoutMs).</summary>
        [DllImport(Library, EntryPoint = "FC_Operacao", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int FC_Operacao(int numParam, ref FcCommand Cmd, out int outLen,
                                             [Out] byte[] outText);
        /// <summary>The same without values: pass IntPtr.Zero twice.</summary>
        [DllImport(Library, EntryPoint = "FC_Operacao", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int FC_Operacao(int numParam, ref FcCommand Cmd, IntPtr outLen, IntPtr outText);
        [DllImport(Library, EntryPoint = "FC_Inicializa", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int FC_Inicializa(byte[] Porta);
        [DllImport(Library, EntryPoint = "FC_Finaliza", CallingConvention = Convention, ExactSpelling = true)]
        public static extern int FC_Finaliza();

        /// <summary>The last answer's error name ("" for a wrong handle).</summary>
        public static string ErrorName(int handle)
        {
            var buffer = new byte[Codes.ERROR_NAME_SIZE];
            ObtemNomeErro(handle, buffer, buffer.Length);
            return Cp1252.Decode(buffer);
        }

        /// <summary>The last answer's circumstance ("" for a wrong handle).</summary>
        public static string Circumstance(int handle)
        {
            var buffer = new byte[Codes.CIRCUMSTANCE_SIZE];
            ObtemCircunstancia(handle, buffer, buffer.Length);
            return Cp1252.Decode(buffer);
        }

        /// <summary>Retorno's result (a count, an error code or a negative
        /// code) and the value read ("" unless found).</summary>
        public static int Value(int handle, string name, out string value)
        {
            var buffer = new byte[Codes.VALUE_SIZE];
            int n = Retorno(handle, 0, Cp1252.Encode(name, "value name"), 0, buffer, 0);
            value = Cp1252.Decode(buffer);
            return n;
        }
    }

    // ---- Typed parameters

    /// <summary>A parameter value with its type code, as AdicionaParam takes it.</summary>
    public sealed class Param
    {
        public readonly string Value;
        public readonly int Type;

        public Param(string value, int type)
        {
            if (value == null) throw new ArgumentNullException("value");
            Value = value;
            Type = type;
        }

        /// <summary>Written bare: Nome=value. Integers as digits, decimal
        /// with a decimal comma ("3,25"), text as it is.</summary>
        public static Param Plain(object value) { return new Param(PlainText(value), Codes.TYPE_PLAIN); }

        /// <summary>Written in double quotes: Nome="value".</summary>
        public static Param Quoted(string value) { return new Param(value, Codes.TYPE_QUOTED); }

        /// <summary>Written between '#': Nome=#dd/mm/yyyy#.</summary>
        public static Param Date(DateTime date)
        {
            return new Param(date.ToString("dd/MM/yyyy", CultureInfo.InvariantCulture), Codes.TYPE_DATE);
        }

        /// <summary>Written between '#': Nome=#hh:mm:ss# (the time of day).</summary>
        public static Param Time(DateTime time) { return Time(time.TimeOfDay); }

        public static Param Time(TimeSpan time)
        {
            if (time < TimeSpan.Zero || time >= TimeSpan.FromDays(1))
                throw new ArgumentOutOfRangeException("time", "a time of day is 00:00:00 to 23:59:59");
            return new Param(string.Format(CultureInfo.InvariantCulture, "{0:00}:{1:00}:{2:00}",
                                           time.Hours, time.Minutes, time.Seconds), Codes.TYPE_TIME);
        }

        /// <summary>The form a value takes when none is chosen: a string is
        /// quoted; an integer or a decimal bare; a DateTime at midnight is a
        /// date, a TimeSpan a time. A DateTime with a time of day is refused
        /// (say Param.Date or Param.Time); float and double are refused,
        /// since a binary fraction is no amount of money.</summary>
        public static Param From(object value)
        {
            var param = value as Param;
            if (param != null) return param;
            var text = value as string;
            if (text != null) return Quoted(text);
            if (value is DateTime) {
                var date = (DateTime)value;
                if (date.TimeOfDay != TimeSpan.Zero)
                    throw new ArgumentException(
                        "a DateTime with a time of day: pass Param.Date(...) or Param.Time(...)");
                return Date(date);
            }
            if (value is TimeSpan) return Time((TimeSpan)value);
            return Plain(value);
        }

        static string PlainText(object value)
        {
            if (value == null) throw new ArgumentNullException("value");
            if (value is float || value is double)
                throw new ArgumentException("pass amounts as decimal or text, not " + value.GetType().Name);
            if (value is decimal)
                return ((decimal)value).ToString(CultureInfo.InvariantCulture).Replace('.', ',');
            if (value is int || value is long || value is short || value is sbyte || value is byte ||
                value is uint || value is ulong || value is ushort)
                return Convert.ToString(value, CultureInfo.InvariantCulture);
            var text = value as string;
            if (text != null) return text;
            throw new ArgumentException("no parameter form for " + value.GetType().Name);
        }
    }

    /// <summary>The parameters of one command, in order:
    /// <c>new Parameters { { "Descricao", "Cafe" }, { "PrecoUnitario", 3.25m } }</c>.
    /// Each is checked as it is added (see Param.From and Printer.Run).</summary>
    public sealed class Parameters : IEnumerable<KeyValuePair<string, Param>>
    {
        readonly List<KeyValuePair<string, Param>> items = new List<KeyValuePair<string, Param>>();

        public void Add(string name, object value)
        {
            var param = Param.From(value);
            Staged.Check(name, param);
            items.Add(new KeyValuePair<string, Param>(name, param));
        }

        public void Add(string name, string value, int type) { Add(name, new Param(value, type)); }

        public int Count { get { return items.Count; } }

        public IEnumerator<KeyValuePair<string, Param>> GetEnumerator() { return items.GetEnumerator(); }

        IEnumerator IEnumerable.GetEnumerator() { return GetEnumerator(); }
    }

    // The parameter text is not escaped in the printer's language: a quote
    // inside a quoted value, a '#' inside a date, a blank inside a bare value
    // or a quote opening it would end the value early (or make it read as
    // quoted) and let the rest be read as further parameters, so such values
    // are refused; the library's own rules for the tools are the same.
    static class Staged
    {
        static readonly Regex word = new Regex("^[A-Za-z0-9_]+$");

        public static bool IsWord(string text) { return text != null && word.IsMatch(text); }

        public static byte[] Check(string name, Param param)
        {
            if (!IsWord(name))
                throw new ArgumentException(string.Format(
                    "parameter name '{0}': letters, digits and '_' only", name));
            byte[] value = Cp1252.Bytes(param.Value, "value of " + name);
            bool bare = param.Type != Codes.TYPE_DATE && param.Type != Codes.TYPE_TIME &&
                        param.Type != Codes.TYPE_QUOTED;
            string forbidden = bare ? " " : param.Type == Codes.TYPE_QUOTED ? "\"" : "#";
            foreach (char c in forbidden)
                if (Array.IndexOf(value, (byte)c) >= 0)
                    throw new ArgumentException(string.Format(
                        "value of {0}: '{1}' can't stand in a value of type {2}", name, c, param.Type));
            if (bare && value.Length > 0 && value[0] == (byte)'"')
                throw new ArgumentException(string.Format(
                    "value of {0}: a bare value can't open with '\"'", name));
            return value;
        }

        /// <summary>Length of the staged text AdicionaParam would build.</summary>
        public static int Length(Parameters parameters)
        {
            int length = 0;
            foreach (var item in parameters) {
                int type = item.Value.Type;
                bool wrapped = type == Codes.TYPE_DATE || type == Codes.TYPE_TIME || type == Codes.TYPE_QUOTED;
                int wrap = wrapped ? 2 : 0;
                length += (length > 0 ? 1 : 0) + item.Key.Length + 1 + item.Value.Value.Length + wrap;
            }
            return length;
        }
    }

    // ---- Errors

    /// <summary>The driver refused a call (bad port, wrong handle, text too long...).</summary>
    public class TarvoException : Exception
    {
        public readonly int Code;

        public TarvoException(string message, int code) : base(message) { Code = code; }
    }

    /// <summary>No valid answer from the printer (code 11010, "ErroProtTimeout").</summary>
    public class ProtocolException : TarvoException
    {
        public readonly string Command, Name, Circumstance;

        public ProtocolException(string command, string name, string circumstance)
            : this(string.Format("{0}: protocol failure {1} {2}: {3}", command, Codes.PROTOCOL_FAILURE,
                                 name, circumstance), command, name, circumstance)
        {
        }

        protected ProtocolException(string message, string command, string name, string circumstance)
            : base(message, Codes.PROTOCOL_FAILURE)
        {
            Command = command;
            Name = name;
            Circumstance = circumstance;
        }
    }

    /// <summary>A command that changes the printer's state got no valid
    /// answer: the printer may have carried it out.</summary>
    /// <remarks>
    /// The rule, the same in every binding: any protocol failure (11010) of a
    /// command in Codes.StateChangingCommands, whatever its circumstance.
    /// "Erro de Recepcao" (no answer) and "Erro de Secao ou CRC" (a damaged
    /// answer) come only after the request was written whole; "Sem sinal de
    /// CTS" comes before the request is written and also after it (CTS lost
    /// while the answer is awaited, as when the printer drops it while it
    /// prints), and "Erro de Transmissao" may follow a write that got part or
    /// all of the frame out. So none of them proves that nothing reached the
    /// printer; RequestSent says whether the circumstance proves that the
    /// request went out whole.
    /// Do not simply run the command again: that can register a sale twice.
    /// Repeat it with Printer.Retransmit, which the printer does not carry out
    /// twice, or check the printer first (a reading command, or the receipt)
    /// and then call Printer.ResolveUnknown().
    /// </remarks>
    public class OutcomeUnknownException : ProtocolException
    {
        const string Advice = "; the printer may have carried it out: check the printer (a reading command,"
                            + " or the receipt) before repeating it, or repeat it with Retransmit(), which"
                            + " the printer does not carry out twice";

        /// <summary>True when the circumstance proves that the request went out whole.</summary>
        public readonly bool RequestSent;

        public OutcomeUnknownException(string command, string name, string circumstance)
            : base(string.Format("{0}: outcome unknown after protocol failure {1} {2}: {3}{4}", command,
                                 Codes.PROTOCOL_FAILURE, name, circumstance, Advice),
                   command, name, circumstance)
        {
            RequestSent = circumstance == "Erro de Recepcao" || circumstance == "Erro de Secao ou CRC";
        }

        OutcomeUnknownException(string command)
            : base(command + ": not sent again, the outcome of the same command is still unknown" + Advice,
                   command, "", "")
        {
        }

        /// <summary>The same command again while its outcome is unknown: refused, nothing sent.</summary>
        internal static OutcomeUnknownException Refused(string command)
        {
            return new OutcomeUnknownException(command);
        }
    }

    /// <summary>The printer answered and refused the command (Result.Check()).</summary>
    public class PrinterException : TarvoException
    {
        public readonly Result Result;

        public PrinterException(Result result)
            : base(string.Format("{0}: printer error {1} {2}: {3}", result.Command, result.Code,
                                 result.Name, result.Circumstance), result.Code)
        {
            Result = result;
        }

        public string Name { get { return Result.Name; } }
        public string Circumstance { get { return Result.Circumstance; } }
    }

    // ---- Results

    /// <summary>The outcome of one command that the printer answered.</summary>
    public sealed class Result
    {
        public readonly string Command;
        public readonly int Code;          // 0: carried out; else the printer's error code
        public readonly string Name;       // error name, "OK" after success
        public readonly string Circumstance;
        public readonly IDictionary<string, string> Values;  // requested name -> text
        public readonly IList<string> Names;  // the requested names, in their order

        public Result(string command, int code, string name, string circumstance,
                      IList<string> names, IDictionary<string, string> values)
        {
            Command = command;
            Names = names;
            Code = code;
            Name = name;
            Circumstance = circumstance;
            Values = values;
        }

        public bool Ok { get { return Code == 0; } }

        /// <summary>This result when the printer carried the command out;
        /// else throws PrinterException.</summary>
        public Result Check()
        {
            if (Code != 0) throw new PrinterException(this);
            return this;
        }

        public string this[string name] { get { return Values[name]; } }

        public int Integer(string name) { return int.Parse(Values[name], CultureInfo.InvariantCulture); }

        /// <summary>An amount such as "1.234,50" or "12.50" as a decimal.</summary>
        public decimal Decimal(string name)
        {
            string text = Values[name].Trim();
            if (text.IndexOf(',') >= 0) text = text.Replace(".", "").Replace(',', '.');
            return decimal.Parse(text, NumberStyles.Number, CultureInfo.InvariantCulture);
        }

        public DateTime Date(string name)
        {
            return DateTime.ParseExact(Values[name], "dd/MM/yyyy", CultureInfo.InvariantCulture);
        }

        public TimeSpan Time(string name)
        {
            return TimeSpan.ParseExact(Values[name], @"hh\:mm\:ss", CultureInfo.InvariantCulture);
        }
    }

    // ---- Why a port is refused

    /// <summary>IniciaDriver or FC_Inicializa refused the port (BAD_CHANNEL); the
    /// message says why, in the words of "tarvo why PORT". Device, Mapping
    /// ("given", "registry", "default" or "none"), Cause (a short key:
    /// "missing", "not-a-terminal", "permission", "busy", ...) and Registry
    /// hold the same facts; all empty when no explanation could be had.</summary>
    public class PortException : TarvoException
    {
        public readonly string Device, Mapping, Cause, Registry;

        public PortException(string message, int code, IDictionary<string, string> facts)
            : base(message, code)
        {
            Device = PortFacts.Get(facts, "device");
            Mapping = PortFacts.Get(facts, "mapping");
            Cause = PortFacts.Get(facts, "cause");
            Registry = PortFacts.Get(facts, "registry");
        }
    }

    /// <summary>Why the driver can't open a port, from the tarvo tool
    /// ("tarvo why PORT --json"), the one place that knows: the tool named
    /// by TARVO_CLI, else the one that came with the library this process
    /// loaded (bin/ beside an installed library's directory, tools/ in a
    /// build tree), else the PATH's. Without the tool the facts are empty and
    /// the message is only the code.</summary>
    public static class PortFacts
    {
        public static Dictionary<string, string> Explain(string port)
        {
            var facts = new Dictionary<string, string>();
            string tool = Tool();
            if (tool == null) return facts;
            try {
                var start = new System.Diagnostics.ProcessStartInfo(tool) {
                    UseShellExecute = false, RedirectStandardOutput = true, RedirectStandardError = true,
                    Arguments = "why \"" + port.Replace("\"", "") + "\" --json",
                    StandardOutputEncoding = Encoding.UTF8,
                };
                using (var process = System.Diagnostics.Process.Start(start)) {
                    string output = process.StandardOutput.ReadToEnd();
                    if (!process.WaitForExit(10000)) return facts;
                    return ParseObject(output);
                }
            } catch (Exception) {
                return facts;  // no tool, or an answer not understood: no explanation
            }
        }

        internal static string Get(IDictionary<string, string> facts, string key)
        {
            string value;
            return facts != null && facts.TryGetValue(key, out value) ? value : "";
        }

        internal static PortException Error(string call, string port, int code)
        {
            // The facade's USB scan (COMU...) tries many ports: no one of them explains it.
            bool scan = call == "FC_Inicializa" && port.Length >= 4 && (port[3] == 'U' || port[3] == 'u');
            var facts = code == Codes.BAD_CHANNEL && !scan ? Explain(port) : new Dictionary<string, string>();
            string why = Get(facts, "explanation");
            return new PortException(string.Format("{0}({1}) gave {2}{3}", call, port, code,
                                                   why.Length > 0 ? ": " + why : ""), code, facts);
        }

        static string Tool()
        {
            string named = Environment.GetEnvironmentVariable("TARVO_CLI");
            if (!string.IsNullOrEmpty(named)) return named;
            string library = LibraryFile();
            if (library != null) {
                string here = System.IO.Path.GetDirectoryName(library);
                string exe = Environment.OSVersion.Platform == PlatformID.Win32NT ? "tarvo.exe" : "tarvo";
                foreach (string beside in new[] { System.IO.Path.Combine(here, "..", "bin", exe),
                                                  System.IO.Path.Combine(here, "..", "..", "bin", exe),
                                                  System.IO.Path.Combine(here, "tools", exe),
                                                  System.IO.Path.Combine(here, exe) })
                    if (System.IO.File.Exists(beside)) return System.IO.Path.GetFullPath(beside);
            }
            string path = Environment.GetEnvironmentVariable("PATH") ?? "";
            foreach (string dir in path.Split(System.IO.Path.PathSeparator)) {
                if (dir.Length == 0) continue;
                string candidate = System.IO.Path.Combine(dir, "tarvo");
                if (System.IO.File.Exists(candidate)) return candidate;
            }
            return null;
        }

        // The file the library was loaded from: the process's mapped files on
        // Linux, its modules elsewhere.
        static string LibraryFile()
        {
            try {
                if (System.IO.File.Exists("/proc/self/maps")) {
                    foreach (string line in System.IO.File.ReadAllLines("/proc/self/maps")) {
                        int slash = line.IndexOf('/');
                        if (slash < 0) continue;
                        string file = line.Substring(slash);
                        if (System.IO.Path.GetFileName(file).StartsWith("libtarvo.so")) return file;
                    }
                    return null;
                }
                foreach (System.Diagnostics.ProcessModule m in System.Diagnostics.Process.GetCurrentProcess().Modules)
                    if (string.Equals(m.ModuleName, "tarvo.dll", StringComparison.OrdinalIgnoreCase))
                        return m.FileName;
            } catch (Exception) {
            }
            return null;
        }

        // The tool's answer is one flat JSON object of texts (and perhaps
        // numbers or booleans, kept as their text).
        internal static Dictionary<string, string> ParseObject(string json)
        {
            var facts = new Dictionary<string, string>();
            int i = json.IndexOf('{');
            if (i < 0) return facts;
            i++;
            while (true) {
                Skip(json, ref i);
                if (i >= json.Length || json[i] == '}') return facts;
                string key = Text(json, ref i);
                Skip(json, ref i);
                if (i >= json.Length || json[i++] != ':') throw new FormatException("':' expected");
                Skip(json, ref i);
                string value;
                if (json[i] == '"') {
                    value = Text(json, ref i);
                } else {
                    int end = json.IndexOfAny(new[] { ',', '}' }, i);
                    if (end < 0) throw new FormatException("unterminated value");
                    value = json.Substring(i, end - i).Trim();
                    i = end;
                }
                facts[key] = value;
                Skip(json, ref i);
                if (i < json.Length && json[i] == ',') i++;
            }
        }

        static void Skip(string s, ref int i)
        {
            while (i < s.Length && char.IsWhiteSpace(s[i])) i++;
        }

        static string Text(string s, ref int i)
        {
            if (s[i] != '"') throw new FormatException("'\"' expected");
            var b = new StringBuilder();
            for (i++; i < s.Length; i++) {
                char c = s[i];
                if (c == '"') { i++; return b.ToString(); }
                if (c != '\\') { b.Append(c); continue; }
                char e = s[++i];
                switch (e) {
                    case 'n': b.Append('\n'); break;
                    case 't': b.Append('\t'); break;
                    case 'r': b.Append('\r'); break;
                    case 'b': b.Append('\b'); break;
                    case 'f': b.Append('\f'); break;
                    case 'u': b.Append((char)Convert.ToInt32(s.Substring(i + 1, 4), 16)); i += 4; break;
                    default: b.Append(e); break;
                }
            }
            throw new FormatException("unterminated text");
        }
    }

    // ---- The session

    /// <summary>One session with the printer.</summary>
    /// <remarks>
    /// <c>new Printer(port)</c> opens it with IniciaDriver and runs commands
    /// through the driver calls; <c>new Printer(port, facade: true)</c> opens
    /// it with FC_Inicializa (which identifies the printer and names the
    /// trace files after it) and runs every command through FC_Operacao,
    /// which resends it up to twice after a protocol failure (never
    /// VendeItem, AbreCreditoDebito and EmiteReducaoZ). Either way the
    /// requested values are read by name with Retorno once the printer has
    /// answered. The library has one session per process: a second open
    /// Printer throws TarvoException(BAD_CHANNEL).
    /// A command of Codes.StateChangingCommands that gets no valid answer
    /// throws OutcomeUnknownException: the printer may have carried it out.
    /// Until the host settles that (Retransmit, ResolveUnknown, or another
    /// state-changing command answered), running the very same command with
    /// the same parameters again is refused before anything is sent, so that
    /// a blind repeat can't register it twice.
    /// </remarks>
    public sealed class Printer : IDisposable
    {
        /// <summary>Held by every call of Printer into the library.</summary>
        public static readonly object SyncRoot = new object();
        static Printer sessionOwner;

        public readonly string Port;
        public readonly bool Facade;
        /// <summary>Per-byte answer time-out for every command, in ms (0: the library's).</summary>
        public int TimeoutMs;
        int handle = -1;
        // What the driver's retransmission would repeat (the last new command
        // sent), and the command whose outcome is unknown, if any: the command
        // name, a NUL and what its parameters send.
        string lastSent, unknown;

        public Printer(string port, bool facade = false, int timeoutMs = 0)
        {
            Port = port;
            Facade = facade;
            TimeoutMs = timeoutMs;
            byte[] name = Cp1252.Encode(port, "port");
            lock (SyncRoot) {
                // Not even tried: a failed FC_Inicializa would overwrite the
                // open facade session's handle, which could then no longer
                // be closed.
                if (sessionOwner != null)
                    throw new TarvoException("a session is already open in this process", Codes.BAD_CHANNEL);
                if (facade) {
                    int code = Native.FC_Inicializa(name);
                    if (code != Codes.OK)
                        throw PortFacts.Error("FC_Inicializa", port, code);
                    handle = Codes.OK_HANDLE;  // the facade's session is the driver's
                } else {
                    int h = Native.IniciaDriver(name);
                    if (h != Codes.OK_HANDLE)
                        throw PortFacts.Error("IniciaDriver", port, h);
                    handle = h;
                }
                sessionOwner = this;
            }
        }

        public bool IsOpen { get { return handle != -1; } }

        /// <summary>Ends the session; a second Close does nothing.</summary>
        public void Close()
        {
            int code;
            lock (SyncRoot) {
                if (handle == -1) return;
                code = Facade ? Native.FC_Finaliza() : Native.EncerraDriver(handle);
                handle = -1;
                sessionOwner = null;
            }
            if (code != Codes.OK)
                throw new TarvoException("closing the session gave " + code, code);
        }

        /// <summary>Closes the session; never throws (call Close to see its code).</summary>
        public void Dispose()
        {
            try {
                Close();
            } catch (TarvoException) {
            }
        }

        public Result Run(string command, string returns = "", Parameters parameters = null)
        {
            return Run(command, (returns ?? "").Split(new[] { ' ' }, StringSplitOptions.RemoveEmptyEntries),
                       parameters);
        }

        /// <summary>Runs one command and returns its Result.</summary>
        /// <remarks>
        /// <paramref name="returns"/> names the values to read. Everything is
        /// checked before anything is sent: the command name (letters, digits
        /// and '_'), each parameter (see Parameters.Add), the text they make
        /// together (at most MAX_PARAMS characters) and, for the facade, the
        /// record's fields. Throws ArgumentException for a value that can't
        /// be sent, ProtocolException when the printer gave no valid answer
        /// (OutcomeUnknownException for a state-changing command), and
        /// TarvoException when the driver refused the call; a printer error
        /// is returned in the Result (see Result.Check()).
        /// </remarks>
        public Result Run(string command, IEnumerable<string> returns, Parameters parameters)
        {
            parameters = parameters ?? new Parameters();
            var names = new List<string>(returns ?? new string[0]);
            foreach (string wanted in names) Cp1252.Bytes(wanted, "value name");
            CheckCommand(command, Facade ? Codes.FC_COMMAND_SIZE - 1 : Codes.MAX_COMMAND);
            if (Staged.Length(parameters) > Codes.MAX_PARAMS)
                throw new TarvoException(string.Format("{0}: the parameters pass {1} characters",
                                                       command, Codes.MAX_PARAMS), Codes.TOO_LONG);
            FcCommand record = Facade ? Record(command, parameters) : default(FcCommand);
            var key = new StringBuilder(command).Append('\0');
            foreach (var item in parameters)
                key.Append(item.Key).Append('\0').Append(item.Value.Type).Append('\0').Append(item.Value.Value).Append('\0');
            lock (SyncRoot) {
                int h = OpenHandle();
                if (key.ToString() == unknown) throw OutcomeUnknownException.Refused(command);
                int code = Facade ? RunFacade(command, ref record, parameters.Count)
                                  : RunDriver(h, command, parameters);
                lastSent = key.ToString();
                return Outcome(lastSent, code, names);
            }
        }

        /// <summary>Sends the last command again, with its frame id and
        /// parameters (ExecutaComando with an empty name), and returns its
        /// Result.</summary>
        /// <remarks>
        /// The printer takes a request whose id, command and parameters equal
        /// those of the last request it received for a repeat: it answers
        /// again from memory and does not carry it out a second time; if the
        /// first request never reached it, it carries this one out. Either way
        /// the command counts once. That holds as long as no other request
        /// reached the printer in between and it was not switched off, so call
        /// this right after the failure, before any other command: once
        /// another command was sent (a reading command to check, say) the
        /// retransmission would repeat that one, and while an outcome is
        /// unknown this is then refused with InvalidOperationException. Throws
        /// like Run.
        /// </remarks>
        public Result Retransmit(string returns = "")
        {
            var names = new List<string>((returns ?? "").Split(new[] { ' ' }, StringSplitOptions.RemoveEmptyEntries));
            foreach (string wanted in names) Cp1252.Bytes(wanted, "value name");
            lock (SyncRoot) {
                int h = OpenHandle();
                string key = lastSent;
                if (key == null) throw new InvalidOperationException("nothing to retransmit: no command was sent");
                string command = key.Substring(0, key.IndexOf('\0'));
                if (unknown != null && unknown != key)
                    throw new InvalidOperationException(string.Format(
                        "a retransmission would repeat {0}, not {1} whose outcome is unknown: check the printer, "
                        + "then ResolveUnknown()", command, unknown.Substring(0, unknown.IndexOf('\0'))));
                int result;
                if (TimeoutMs > 0) Native.DefineTimeout(h, TimeoutMs);
                try {
                    result = Native.ExecutaComando(h, new byte[] { 0 });
                } finally {
                    if (TimeoutMs > 0) Native.DefineTimeout(h, 5000);
                }
                return Outcome(key, CodeOf(h, command, result), names);
            }
        }

        /// <summary>Tells the Printer that the host has checked the printer
        /// after an OutcomeUnknownException: the same command may be run
        /// again.</summary>
        public void ResolveUnknown()
        {
            lock (SyncRoot) unknown = null;
        }

        // The Result of the exchange just made (SyncRoot held).
        Result Outcome(string key, int code, List<string> names)
        {
            string command = key.Substring(0, key.IndexOf('\0'));
            int h = handle;
            string name = Native.ErrorName(h), circumstance = Native.Circumstance(h);
            if (code == Codes.PROTOCOL_FAILURE) {
                if (Codes.ChangesPrinterState(command)) {
                    unknown = key;
                    throw new OutcomeUnknownException(command, name, circumstance);
                }
                throw new ProtocolException(command, name, circumstance);
            }
            if (Codes.ChangesPrinterState(command)) unknown = null;  // answered: known again
            var values = new Dictionary<string, string>();
            if (code == Codes.OK) {
                foreach (string wanted in names) {
                    string value;
                    int n = Native.Value(h, wanted, out value);
                    if (n < 0)
                        throw new TarvoException(string.Format("{0}: Retorno({1}) gave {2}", command,
                                                               wanted, n), n);
                    values[wanted] = value;
                }
            }
            return new Result(command, code, name, circumstance, names, values);
        }

        /// <summary>Reads one more value of the last answer by name.</summary>
        public string Value(string name)
        {
            byte[] encoded = Cp1252.Encode(name, "value name");
            lock (SyncRoot) {
                int h = OpenHandle();
                // Retorno gives the last error code in place of a count: only
                // after a carried-out command is its result a count.
                int code = Native.ObtemCodErro(h);
                if (code != Codes.OK)
                    throw new TarvoException(string.Format("Retorno({0}): the last command ended with {1}",
                                                           name, code), code);
                var buffer = new byte[Codes.VALUE_SIZE];
                int n = Native.Retorno(h, 0, encoded, 0, buffer, 0);
                if (n < 0) throw new TarvoException(string.Format("Retorno({0}) gave {1}", name, n), n);
                return Cp1252.Decode(buffer);
            }
        }

        int OpenHandle()
        {
            if (handle == -1) throw new TarvoException("the printer session is not open", Codes.BAD_HANDLE);
            return handle;
        }

        static void CheckCommand(string command, int longest)
        {
            // An empty name would resend the previous command.
            if (!Staged.IsWord(command))
                throw new ArgumentException(string.Format("command '{0}': letters, digits and '_' only", command));
            if (command.Length > longest)
                throw new ArgumentException(string.Format("command '{0}': at most {1} characters", command, longest));
        }

        FcCommand Record(string command, Parameters parameters)
        {
            if (parameters.Count > Codes.FC_PARAM_COUNT)
                throw new ArgumentException("at most 17 parameters fit an FcCommand");
            FcCommand record = FcCommand.Create(command, "", TimeoutMs);
            int i = 0;
            foreach (var item in parameters) record.SetParam(i++, item.Key, item.Value.Value, item.Value.Type);
            return record;
        }

        int RunDriver(int h, string command, Parameters parameters)
        {
            int result;
            if (TimeoutMs > 0) Native.DefineTimeout(h, TimeoutMs);
            try {
                Refuse(Native.LimpaParams(h), "LimpaParams");
                foreach (var item in parameters) {
                    int added = Native.AdicionaParam(h, Cp1252.Encode(item.Key, "parameter name"),
                                                     Cp1252.Encode(item.Value.Value, "value"), item.Value.Type);
                    if (added != Codes.OK) {
                        Native.LimpaParams(h);
                        Refuse(added, command + ": parameter " + item.Key);
                    }
                }
                result = Native.ExecutaComando(h, Cp1252.Encode(command, "command"));
            } finally {
                if (TimeoutMs > 0) Native.DefineTimeout(h, 5000);
            }
            return CodeOf(h, command, result);
        }

        // The error code after ExecutaComando gave result.
        static int CodeOf(int h, string command, int result)
        {
            if (result == Codes.BUSY)
                throw new TarvoException(command + ": another command is still running", Codes.BUSY);
            if (result != Codes.ANSWERED && result != Codes.EXCHANGE_FAILED) Refuse(result, command);
            int code = Native.ObtemCodErro(h);
            // Never let a failed exchange read as success.
            return result == Codes.EXCHANGE_FAILED && code == Codes.OK ? Codes.PROTOCOL_FAILURE : code;
        }

        static int RunFacade(string command, ref FcCommand record, int count)
        {
            int code = Native.FC_Operacao(count, ref record, IntPtr.Zero, IntPtr.Zero);
            if (code < 0) Refuse(code, command);
            return code;
        }

        static void Refuse(int code, string what)
        {
            if (code >= 0) return;
            string meaning = code == Codes.BAD_HANDLE ? "no open session"
                           : code == Codes.TOO_LONG ? "text too long"
                           : code == Codes.NULL_ARGUMENT ? "missing argument"
                           : code == Codes.REFUSED_BUSY ? "another thread's command is running" : "refused";
            throw new TarvoException(string.Format("{0}: {1} ({2})", what, meaning, code), code);
        }
    }
}
