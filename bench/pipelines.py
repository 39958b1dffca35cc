# The in-process pipelines the benchmark races: tarvik_codec.columnarize, and the same transform
# between orjson's or the standard library's loads and dumps (bench/columnar_reference.py).
import columnar_reference


def load_tarvik():
    """tarvik_codec.columnarize, or None with the reason when the module does not import."""
    try:
        import tarvik_codec
    except ImportError as error:
        return None, f"tarvik_codec does not import ({error})"
    return tarvik_codec.columnarize, None


def python_pipelines() -> tuple[dict, dict]:
    """The in-process pipelines by name, and the reason for each one that is missing."""
    pipelines, missing = {}, {}
    tarvik, reason = load_tarvik()
    if tarvik is None:
        missing["tarvik"] = reason
    else:
        pipelines["tarvik"] = tarvik
    if columnar_reference.orjson is None:
        missing["orjson"] = "orjson is not installed"
    else:
        pipelines["orjson"] = columnar_reference.columnarize_orjson
    pipelines["stdlib"] = columnar_reference.columnarize_stdlib
    return pipelines, missing


def load_document_codec():
    """The tarvik_codec module when it has document mode, or None with the reason."""
    try:
        import tarvik_codec
    except ImportError as error:
        return None, f"tarvik_codec does not import ({error})"
    if not hasattr(tarvik_codec, "columnarize_document"):
        return None, "this tarvik_codec has no columnarize_document"
    return tarvik_codec, None
